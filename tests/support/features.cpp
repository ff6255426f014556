// Every test program runs with the station's features joined to the
// run-time's calls, as the program does at start (main/run.cpp): seek and
// step, the exports that follow the frames, the panel put back to its
// moment after a move, the live reception clock, and the publisher and the
// session record's reading (which the Windows build leaves out).
#include "export/export_follow.h"
#include "history/install.h"
#include "replay/replay.h"
#ifdef GSE_HAS_PUBLISH
#include "publish/publisher.h"
#include "record/record_reader.h"
#endif

namespace {

const bool installed = [] {
  rt::replay_install();
  rt::export_install();
  rt::history_install(true);
#ifdef GSE_HAS_PUBLISH
  rt::publish_install();
  rt::set_pass_reader(rt::read_session_record);  // playback reads a recording's session record
#endif
  return true;
}();

}  // namespace
