// Seek, step, loop and "Open recording" (replay.h): requests from the
// window, carried out on the system's thread at the start of a frame pass.
#include "replay/replay.h"

#include <atomic>
#include <deque>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>

#include "display/decoder.h"
#include "runtime/context.h"
#include "runtime/model.h"
#include "session/session_log.h"
#include "runtime/session_watch.h"
#include "runtime/testing.h"
#include "runtime/transport.h"

namespace rt {

const char* const ESCAPE_HINT =
    "Frames skipped here carry the link's \"++-\" escapes: this is a live recording, "
    "which the playback reader cannot undo. Play it with --link-replay FILE to see "
    "every frame the station showed.";

namespace {

struct Replay {
  std::mutex mu;
  ReplayInput* input = nullptr;
  std::string path;
  FrameRules rules = FrameRules::Playback;
  bool seekable = false;
  bool indexing = true;
  std::shared_ptr<RecordingIndex> index;
  // The operator's requests not yet carried out. A newer move replaces an
  // older one; opening a recording replaces every move.
  long seek = -1;
  bool restart = false;
  bool restart_by_loop = false;
  std::string open;
  // The operator's steps not yet taken, +1 or -1 each, in order: every
  // press is a step, however quickly they come.
  std::deque<int> steps;
  bool loop = false;
  bool hinted = false;  // the escape hint was given for this recording
};

Replay& rp() {
  static Replay r;
  return r;
}

// Frame passes begun (GetUserEvent), and on the system's thread the last
// one whose start has been seen, and whether it runs as a step.
std::atomic<uint64_t> pass_serial{0};
std::atomic<MoveListener*> move_listener{nullptr};
uint64_t gated_serial = 0;
bool stepping = false;
// Requests made (seek, restart, open, the loop's restart), counted
// under the lock, and on the system's thread the count last looked at: a
// frame pass with nothing asked takes no lock.
std::atomic<uint64_t> requests_made{0};
uint64_t requests_seen = 0;
// Whether steps may be waiting (set with a step asked, cleared with the
// steps, both under the lock): a playing frame pass looks without it.
std::atomic<bool> steps_waiting{false};

std::string frame_text(long n, const RecordingIndex& index) {
  std::string text = "frame " + std::to_string(n + 1) + " of " + std::to_string(index.frames());
  const int32_t ms = index.frame(n).elapsed_ms;
  if (ms != NO_ELAPSED) text += " (elapsed " + elapsed_text(ms) + ")";
  return text;
}

// Shown in the status bar and logged once, at its own level.
void tell(Severity severity, const std::string& text) { transport_post_message(text, severity); }

void clear_spectra(const std::string& why) {
  if (!transport_clear_spectra()) {
    log_warning("Spectra not cleared (the program registered no clear): frames may count twice: " + why);
    return;
  }
  log_info("Spectra cleared: " + why);
}

void tell_moved(long next, int64_t offset) {
  MoveListener* listener = move_listener.load();
  if (!listener) return;
  std::string path;
  FrameRules rules;
  std::shared_ptr<const RecordingIndex> index;
  {
    std::lock_guard lock(rp().mu);
    path = rp().path;
    rules = rp().rules;
    index = rp().index;
  }
  listener->input_moved(path, rules, index, next, offset);
}

// Moves the input to `offset`, where frame `next` begins (0 and 0: the
// start). `what` names the move in the log.
bool move_input(ReplayInput* input, int64_t offset, long next, const std::string& what) {
  std::string error;
  watch_input_moved();  // before and after: a look between sees no jump
  if (!input->move_to(offset, &error)) {
    tell(Severity::Warning, what + ": not possible: " + error);
    return false;
  }
  transport_set_input_exhausted(false);
  watch_input_moved();
  log_info(what);
  if (transport_position().counted_end > offset)
    clear_spectra("the frames from there on had been counted already");
  tell_moved(next, offset);
  return true;
}

bool open_recording(ReplayInput* input, const std::string& path) {
  std::string error;
  if (!input->reopen(path, &error)) {
    tell(Severity::Error, "Cannot open recording " + path + ": " + error);
    return false;
  }
  watch_input_moved();
  watch_source_opened(path);
  if (transport_position().counted_end >= 0) clear_spectra("another recording was opened");
  const bool link = transport_is_link_replay();
  if (link) transport_set_link_replay(path);
  else transport_set_source(path);
  FrameRules rules;
  {
    std::lock_guard lock(rp().mu);
    rules = rp().rules;
  }
  replay_attach(input, path, rules);
  tell_moved(0, 0);
  const std::string mode = link ? "link replay" : "playback";
  if (PanelModel* m = current_model()) m->set_title("vst_gse - " + mode + " of " + path);
  tell(Severity::Info, "Opened recording " + path + " (" + mode + ")");
  return true;
}

// Carries out the pending move, if any. True when the input was moved.
bool apply_moves() {
  const uint64_t made = requests_made.load();
  if (made == requests_seen) return false;
  requests_seen = made;
  ReplayInput* input;
  std::shared_ptr<RecordingIndex> index;
  std::string open;
  bool restart, by_loop;
  long seek;
  {
    std::lock_guard lock(rp().mu);
    Replay& r = rp();
    input = r.input;
    index = r.index;
    open.swap(r.open);
    restart = std::exchange(r.restart, false);
    by_loop = std::exchange(r.restart_by_loop, false);
    seek = std::exchange(r.seek, -1);
  }
  if (!input) return false;
  if (!open.empty()) return open_recording(input, open);
  if (restart)
    return move_input(input, 0, 0, by_loop ? "Loop: playing again from the start" : "Playing again from the start");
  if (seek < 0) return false;
  if (!index || index->state() != RecordingIndex::State::Ready || seek >= index->frames()) {
    tell(Severity::Warning, "Seek to frame " + std::to_string(seek + 1) + ": no such frame in the index");
    return false;
  }
  return move_input(input, index->frame(seek).offset, seek, "Seek to " + frame_text(seek, *index));
}

// While paused: back to the frame before the one shown. True when moved.
bool step_back() {
  std::shared_ptr<RecordingIndex> index;
  ReplayInput* input;
  {
    std::lock_guard lock(rp().mu);
    index = rp().index;
    input = rp().input;
  }
  if (!input || !index || index->state() != RecordingIndex::State::Ready) {
    tell(Severity::Info, "Step back: the recording's index is not ready");
    return false;
  }
  const long shown = index->frame_before(transport_position().last_good_end);
  if (shown <= 0) {
    tell(Severity::Info, "Step back: at the first frame");
    return false;
  }
  return move_input(input, index->frame(shown - 1).offset, shown - 1, "Step back to " + frame_text(shown - 1, *index));
}

}  // namespace

std::string elapsed_text(int32_t ms) {
  if (ms == NO_ELAPSED) return "";
  char text[48];
  format_elapsed(ms, text, sizeof text);  // as the panel shows it
  return text;
}

void replay_set_indexing(bool on) {
  std::lock_guard lock(rp().mu);
  rp().indexing = on;
}

void replay_attach(ReplayInput* input, const std::string& path, FrameRules rules) {
  const bool seekable = input->seekable();
  bool indexing;
  {
    std::lock_guard lock(rp().mu);
    indexing = rp().indexing;
  }
  auto index = seekable && indexing ? std::make_shared<RecordingIndex>(path, rules) : nullptr;
  std::shared_ptr<RecordingIndex> old;
  {
    std::lock_guard lock(rp().mu);
    Replay& r = rp();
    old = std::move(r.index);
    r.input = input;
    r.path = path;
    r.rules = rules;
    r.seekable = seekable;
    r.index = std::move(index);
    r.hinted = false;
  }
  // An index still building stops here, outside the lock.
}

void replay_detach(ReplayInput* input) {
  std::shared_ptr<RecordingIndex> old;
  std::lock_guard lock(rp().mu);
  Replay& r = rp();
  if (r.input != input) return;
  r.input = nullptr;
  r.seekable = false;
  old = std::move(r.index);
}

void replay_request_seek(long frame) {
  std::lock_guard lock(rp().mu);
  rp().seek = frame;
  rp().restart = false;
  ++requests_made;
}

void replay_request_step(int direction) {
  // A key held down repeats: more steps than this waiting are dropped.
  constexpr size_t MAX_WAITING_STEPS = 1000;
  if (direction == 0) return;
  std::lock_guard lock(rp().mu);
  if (rp().steps.size() < MAX_WAITING_STEPS) rp().steps.push_back(direction > 0 ? 1 : -1);
  steps_waiting.store(true);
}

void replay_request_restart() {
  std::lock_guard lock(rp().mu);
  rp().restart = true;
  rp().restart_by_loop = false;
  rp().seek = -1;
  ++requests_made;
}

void replay_set_loop(bool on) {
  {
    std::lock_guard lock(rp().mu);
    if (rp().loop == on) return;
    rp().loop = on;
  }
  log_info(on ? "Loop on: the end of the recording plays again from the start"
              : "Loop off: playback stops at the end of the recording");
}

bool replay_loop() {
  std::lock_guard lock(rp().mu);
  return rp().loop;
}

void replay_request_open(const std::string& path) {
  std::lock_guard lock(rp().mu);
  Replay& r = rp();
  r.open = path;
  r.seek = -1;
  r.restart = false;
  r.steps.clear();
  ++requests_made;
}

ReplayView replay_view() {
  ReplayView v;
  {
    std::lock_guard lock(rp().mu);
    const Replay& r = rp();
    v.attached = r.input != nullptr;
    v.seekable = r.seekable;
    v.path = r.path;
    v.index = r.index;
  }
  if (v.index) v.current = v.index->frame_before(transport_position().last_good_end);
  return v;
}

void replay_set_move_listener(MoveListener* listener) { move_listener.store(listener); }

void replay_frame_pass_begins() { pass_serial.fetch_add(1, std::memory_order_relaxed); }

bool replay_first_of_pass() {
  const uint64_t serial = pass_serial.load(std::memory_order_relaxed);
  if (serial == gated_serial) return false;
  gated_serial = serial;
  stepping = false;
  return true;
}

bool replay_stepping() { return stepping; }

bool replay_move_pending() {
  std::lock_guard lock(rp().mu);
  const Replay& r = rp();
  return r.input != nullptr && (r.seek >= 0 || r.restart || !r.open.empty());
}

bool replay_gate() {
  stepping = false;
  const bool moved = apply_moves();
  if (!transport_paused()) {
    if (steps_waiting.load()) {
      std::lock_guard lock(rp().mu);
      rp().steps.clear();  // a step is for a paused playback only
      steps_waiting.store(false);
    }
    return false;
  }
  if (moved) return stepping = true;  // moved while paused: the frame there is shown
  while (!quit_pending()) {
    int step = 0;
    {
      std::lock_guard lock(rp().mu);
      if (!rp().steps.empty()) {
        step = rp().steps.front();
        rp().steps.pop_front();
      }
    }
    if (step > 0) {
      log_info("Step forward");
      return stepping = true;
    }
    if ((step < 0 && step_back()) || apply_moves()) return stepping = true;
    if (!transport_hold(QUIT_POLL_MS)) {
      apply_moves();  // one that came with the resume
      return false;
    }
    transport_run_spectra_request();
  }
  return false;
}

void replay_wait(double seconds, bool idle) {
  const bool first = replay_first_of_pass();
  if (!stepping) transport_sleep(seconds, [] { return quit_pending() || replay_move_pending(); }, idle);
  if (first) replay_gate();
}

void replay_end_of_input() {
  std::lock_guard lock(rp().mu);
  Replay& r = rp();
  if (!r.loop || r.input == nullptr || r.restart || !r.open.empty()) return;
  r.restart = true;
  r.restart_by_loop = true;
  ++requests_made;
}

void replay_stepped_back(const uint8_t* bytes, size_t n) {
  {
    std::lock_guard lock(rp().mu);
    Replay& r = rp();
    if (r.input == nullptr || r.rules != FrameRules::Playback || r.hinted) return;
    if (!looks_escaped(bytes, n)) return;
    r.hinted = true;
  }
  tell(Severity::Info, ESCAPE_HINT);
}

void replay_reset() {
  std::shared_ptr<RecordingIndex> old;
  {
    std::lock_guard lock(rp().mu);
    Replay& r = rp();
    old = std::move(r.index);
    r.input = nullptr;
    r.path.clear();
    r.rules = FrameRules::Playback;
    r.seekable = false;
    r.indexing = true;
    r.seek = -1;
    r.restart = r.restart_by_loop = false;
    r.open.clear();
    r.steps.clear();
    r.loop = false;
    r.hinted = false;
  }
  pass_serial.store(0);
  gated_serial = 0;
  stepping = false;
  requests_made.store(0);
  requests_seen = 0;
  steps_waiting.store(false);
}

namespace {

// The run-time's side: the playback stream (playback rules) and Delay.
class Control : public PlaybackControl {
 public:
  void attach(ReplayInput* input, const std::string& path) override {
    replay_attach(input, path, FrameRules::Playback);
  }
  void detach(ReplayInput* input) override { replay_detach(input); }
  void frame_pass_begins() override { replay_frame_pass_begins(); }
  void wait(double seconds, bool idle) override { replay_wait(seconds, idle); }
  void end_of_input() override { replay_end_of_input(); }
  void stepped_back(const uint8_t* bytes, size_t n) override { replay_stepped_back(bytes, n); }
  void reset() override { replay_reset(); }
};

}  // namespace

void replay_install() {
  static Control control;
  set_playback_control(&control);
}

}  // namespace rt
