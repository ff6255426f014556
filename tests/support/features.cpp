// Every test program runs with the station's features joined to the
// run-time's calls, as the program does at start (main/run.cpp): seek and
// step, and the exports that follow the frames.
#include "export/export_follow.h"
#include "replay/replay.h"

namespace {

const bool installed = [] {
  rt::replay_install();
  rt::export_install();
  return true;
}();

}  // namespace
