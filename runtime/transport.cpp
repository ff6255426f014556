// The playback transport, the recording shown in the status bar and the
// spectra export requests, shared by the window and the system's thread.
// Delay, GetUserEvent and SetCtrlVal (ui.cpp) drive it from the system's side.
#include "runtime/transport.h"

#include <atomic>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "runtime/com_port.h"
#include "session/session_log.h"

namespace rt {

namespace {

// Longest single sleep between two looks at a wait's stop condition.
constexpr auto SLEEP_SLICE = std::chrono::milliseconds(20);

struct Transport {
  std::mutex mu;
  std::condition_variable resumed;
  double speed = 1.0;
  bool paused = false;
  std::string source;
  bool link_replay = false;
  bool exhausted = false;
  Position position;
  std::string recording;
  std::string recording_failure;
  int64_t recording_missing = 0;
  std::string work_folder;
  std::string work_folder_fallback;
  SpectraWriter writer = nullptr;
  void* writer_context = nullptr;
  void (*clear)(void*) = nullptr;
  void* clear_context = nullptr;
  std::string spectra_request;  // path to save to, "" when none is pending
  Message message;
};

Transport& tp() {
  static Transport t;
  return t;
}

// The input's position, written at every read of the system's thread.
std::atomic<int64_t> input_bytes{0};

// Copies of what every frame pass asks (the speed, the pause, a spectra
// save waiting), kept beside the fields under the lock so that those looks
// take none: written under it, read without it.
std::atomic<double> speed_now{1.0};
std::atomic<bool> paused_now{false};
std::atomic<bool> playback_now{false};  // the source is not empty: a recording is played
std::atomic<bool> spectra_asked{false};
std::atomic<uint64_t> source_serial{0};

std::string local_time_text() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  // Thread-safe, unlike localtime(): its name differs on Windows.
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

}  // namespace

void transport_set_speed(double speed) {
  if (!(speed > 0.0)) speed = 0.0;  // NaN and below zero: no waits
  else speed = std::clamp(speed, SPEED_MIN, SPEED_MAX);
  std::lock_guard lock(tp().mu);
  tp().speed = speed;
  speed_now.store(speed);
}

double transport_speed() { return speed_now.load(); }

void transport_set_paused(bool paused) {
  {
    std::lock_guard lock(tp().mu);
    tp().paused = paused;
    paused_now.store(paused);
  }
  tp().resumed.notify_all();
}

bool transport_paused() { return paused_now.load(); }

void transport_sleep(double seconds, const std::function<bool()>& stop, bool idle) {
  double speed = transport_speed();
  if (speed <= 0.0 && idle) speed = 1.0;
  if (speed <= 0.0 || !(seconds > 0.0)) return;
  using Clock = std::chrono::steady_clock;
  const double wait_s = std::min(seconds / speed, MAX_WAIT_S);
  const Clock::time_point deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(wait_s));
  for (;;) {
    if (stop && stop()) return;
    const Clock::duration left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return;
    std::this_thread::sleep_for(std::min<Clock::duration>(left, SLEEP_SLICE));
  }
}

bool transport_hold(int max_ms) {
  std::unique_lock lock(tp().mu);
  Transport& t = tp();
  t.resumed.wait_for(lock, std::chrono::milliseconds(max_ms), [&t] { return !t.paused; });
  return t.paused;
}

void transport_set_source(const std::string& playback_path) {
  std::error_code ec;
  const auto size = playback_path.empty() ? 0 : std::filesystem::file_size(playback_path, ec);
  std::lock_guard lock(tp().mu);
  tp().source = playback_path;
  source_serial.fetch_add(1);
  playback_now.store(!playback_path.empty());
  tp().exhausted = false;
  tp().position = Position{};
  tp().position.total = ec ? 0 : static_cast<int64_t>(size);
  input_bytes.store(0, std::memory_order_relaxed);
}

std::string transport_source() {
  std::lock_guard lock(tp().mu);
  return tp().source;
}

uint64_t transport_source_serial() { return source_serial.load(); }

bool transport_is_playback() { return playback_now.load(); }

void transport_set_link_replay(const std::string& path) {
  transport_set_source(path);
  std::lock_guard lock(tp().mu);
  tp().link_replay = true;
}

bool transport_is_link_replay() {
  std::lock_guard lock(tp().mu);
  return tp().link_replay;
}

void transport_input_opened(int64_t total) {
  std::lock_guard lock(tp().mu);
  tp().position.total = total;
  input_bytes.store(0, std::memory_order_relaxed);
}

void transport_input_at(int64_t bytes) { input_bytes.store(bytes, std::memory_order_relaxed); }

void transport_good_frame() {
  const int64_t at = input_bytes.load(std::memory_order_relaxed);
  std::lock_guard lock(tp().mu);
  Position& p = tp().position;
  ++p.good_frames;
  p.last_good_end = at;
  p.counted_end = std::max(p.counted_end, at);
}

void transport_set_input_exhausted(bool exhausted) {
  std::lock_guard lock(tp().mu);
  tp().exhausted = exhausted;
}

bool transport_input_exhausted() {
  std::lock_guard lock(tp().mu);
  return tp().exhausted;
}

void transport_spectra_cleared() {
  std::lock_guard lock(tp().mu);
  tp().position.counted_end = -1;
}

void transport_end_of_input() {
  std::lock_guard lock(tp().mu);
  if (tp().position.total == 0) tp().position.total = input_bytes.load(std::memory_order_relaxed);
}

Position transport_position() {
  std::lock_guard lock(tp().mu);
  Position p = tp().position;
  p.bytes = input_bytes.load(std::memory_order_relaxed);
  return p;
}

int64_t transport_input_bytes() { return input_bytes.load(std::memory_order_relaxed); }

void transport_set_recording(const std::string& path) {
  std::lock_guard lock(tp().mu);
  tp().recording = path;
}

std::string transport_recording() {
  std::lock_guard lock(tp().mu);
  return tp().recording;
}

void transport_set_recording_failure(const std::string& reason) {
  std::lock_guard lock(tp().mu);
  tp().recording_failure = reason;
}

void transport_set_recording_missing(int64_t bytes) {
  std::lock_guard lock(tp().mu);
  tp().recording_missing = bytes;
}

RecordingState transport_recording_state() {
  std::lock_guard lock(tp().mu);
  return RecordingState{tp().recording, tp().recording_failure, tp().recording_missing};
}

void transport_set_work_folder(const std::string& folder, const std::string& fallback) {
  std::lock_guard lock(tp().mu);
  tp().work_folder = folder;
  tp().work_folder_fallback = fallback;
}

std::string transport_work_folder() {
  std::lock_guard lock(tp().mu);
  return tp().work_folder;
}

std::string transport_work_folder_fallback() {
  std::lock_guard lock(tp().mu);
  return tp().work_folder_fallback;
}

void transport_set_spectra_clear(void (*clear)(void* context), void* context) {
  std::lock_guard lock(tp().mu);
  tp().clear = clear;
  tp().clear_context = context;
}

bool transport_clear_spectra() {
  void (*clear)(void*);
  void* context;
  {
    std::lock_guard lock(tp().mu);
    clear = tp().clear;
    context = tp().clear_context;
  }
  if (!clear) return false;
  clear(context);
  transport_spectra_cleared();
  return true;
}

void transport_set_spectra_writer(SpectraWriter write, void* context) {
  std::lock_guard lock(tp().mu);
  tp().writer = write;
  tp().writer_context = context;
}

bool transport_write_spectra_rows(FILE* out) {
  SpectraWriter write;
  void* context;
  {
    std::lock_guard lock(tp().mu);
    write = tp().writer;
    context = tp().writer_context;
  }
  if (!write) return false;
  write(context, out);
  return true;
}

void transport_request_spectra(const std::string& path) {
  std::lock_guard lock(tp().mu);
  tp().spectra_request = path;
  spectra_asked.store(!path.empty());
}

bool transport_run_spectra_request() {
  std::string path, source;
  SpectraWriter write;
  void* context;
  if (!spectra_asked.load()) return false;
  {
    std::lock_guard lock(tp().mu);
    spectra_asked.store(false);
    if (tp().spectra_request.empty()) return false;
    path.swap(tp().spectra_request);
    source = tp().source;
    write = tp().writer;
    context = tp().writer_context;
  }
  if (!write) {
    transport_post_message("Spectra not saved: the program offers no spectra export");
    return true;
  }
  FILE* out = std::fopen(path.c_str(), "wb");  // LF line ends on every platform
  if (!out) {
    transport_post_message("Spectra not saved: cannot write " + path + ": " + std::strerror(errno));
    return true;
  }
  std::fprintf(out, "# vst_gse spectra\n");
  if (!source.empty())
    std::fprintf(out, "# source: %s of %s\n", transport_is_link_replay() ? "link replay" : "playback",
                 source.c_str());
  else
    std::fprintf(out, "# source: live, port %s\n", com_path().c_str());
  std::fprintf(out, "# saved: %s\n", local_time_text().c_str());
  write(context, out);
  const bool failed = std::ferror(out) != 0;
  if (std::fclose(out) != 0 || failed)
    transport_post_message("Spectra not saved: error writing " + path);
  else
    transport_post_message("Spectra saved to " + path);
  return true;
}

Message transport_message() {
  std::lock_guard lock(tp().mu);
  return tp().message;
}

void transport_post_message(const std::string& text, Severity severity) {
  {
    std::lock_guard lock(tp().mu);
    ++tp().message.serial;
    tp().message.text = text;
  }
  log_event(severity, text);
}

void transport_post_message(const std::string& text) {
  // Every outcome shown in the status bar (saves, a failed read) is also in
  // the session log; those that say something did not happen as a warning.
  const bool not_done = text.find(" not ") != std::string::npos || text.find("could not") != std::string::npos;
  transport_post_message(text, not_done ? Severity::Warning : Severity::Info);
}

void transport_reset() {
  {
    std::lock_guard lock(tp().mu);
    Transport& t = tp();
    t.speed = 1.0;
    speed_now.store(1.0);
    t.paused = false;
    paused_now.store(false);
    t.source.clear();
    playback_now.store(false);
    t.link_replay = false;
    t.work_folder.clear();
    t.work_folder_fallback.clear();
    t.exhausted = false;
    t.position = Position{};
    t.recording.clear();
    t.recording_failure.clear();
    t.recording_missing = 0;
    t.writer = nullptr;
    t.writer_context = nullptr;
    t.clear = nullptr;
    t.clear_context = nullptr;
    t.spectra_request.clear();
    spectra_asked.store(false);
    t.message = Message{};
  }
  input_bytes.store(0);
  tp().resumed.notify_all();
}

}  // namespace rt
