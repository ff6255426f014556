// vst_gse: ground-station display for the instrument's telemetry.
#include "app/entry.h"
#include "main/run.h"

int main(int argc, char* argv[]) { return RunProgram(argc, argv, gse_main); }
