// Every test program runs with the station's features joined to the
// run-time's calls, as the program does at start (main/run.cpp): seek and
// step, the exports that follow the frames, the panel put back to its
// moment after a move and the live reception clock.
#include "export/export_follow.h"
#include "history/install.h"
#include "replay/replay.h"

namespace {

const bool installed = [] {
  rt::replay_install();
  rt::export_install();
  rt::history_install();
  return true;
}();

}  // namespace
