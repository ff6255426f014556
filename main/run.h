// Program start-up: the command line, the Qt application and the threads.
#pragma once

// Parses the run-time's command-line options, joins the station's features
// to the run-time, starts the window (unless --headless) and calls `entry`
// (the system's entry) with the program name and the remaining positional
// arguments on the system's thread. Returns the process exit status:
// entry's result, or 2 after a usage error.
int RunProgram(int argc, char* argv[], int (*entry)(int argc, char* argv[]));
