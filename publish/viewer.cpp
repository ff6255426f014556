// The remote viewer (viewer.h): its broker thread, the input feed the
// system's thread reads, and the observer that times frames to the panel.
#include "publish/viewer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "present/json.h"
#include "publish/mqtt_client.h"
#include "runtime/hooks.h"
#include "runtime/session_watch.h"
#include "runtime/shown_frame.h"
#include "session/outcome.h"
#include "session/session_log.h"
#include "session/session_summary.h"

namespace rt {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int SERVICE_WAIT_MS = 50;
constexpr int LATENCY_BUCKETS = 10000;  // 1 ms each; the last counts everything above
constexpr size_t SHOWN_FIFO = 8192;     // frames handed to the reader, not yet shown

int64_t unix_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

std::string count_text(long long n) { return std::to_string(n); }

struct Handed {
  std::array<uint8_t, FRAME_BYTES> bytes;
  int64_t time_ms;
};

std::mutex listener_mu;
ViewerRecordListener listener_now;

ViewerRecordListener record_listener() {
  std::lock_guard lock(listener_mu);
  return listener_now;
}

class Viewer : public InputFeed {
 public:
  explicit Viewer(ViewerSettings settings) : settings_(std::move(settings)) {
    frame_topic_ = topic_of(settings_.address.prefix, TOPIC_FRAME);
    health_topic_ = topic_of(settings_.address.prefix, TOPIC_HEALTH);
    status_topic_ = topic_of(settings_.address.prefix, TOPIC_STATUS);
  }
  ~Viewer() override {
    if (record_) std::fclose(record_);
  }

  bool open_recording(std::string* error) {
    if (settings_.record_path.empty()) return true;
    record_ = std::fopen(settings_.record_path.c_str(), "ab");
    if (!record_) {
      *error = "Cannot create recording file " + settings_.record_path + ": " + std::strerror(errno);
      return false;
    }
    long size = -1;
    if (std::fseek(record_, 0, SEEK_END) == 0) size = std::ftell(record_);
    record_offset_ = size < 0 ? 0 : size;
    const ViewerRecordListener listener = record_listener();
    if (listener.opened) listener.opened(settings_.record_path, settings_.address.text(), record_offset_);
    return true;
  }

  // Starts the broker thread; waits for the first answer. False with
  // *error when the operator must act.
  bool start(std::string* error) {
    thread_ = std::thread([this] { run(); });
    std::unique_lock lock(mu_);
    first_.wait(lock, [&] { return answered_; });
    if (phase_ == ViewerState::Phase::Refused) {
      *error = settings_.address.text() + ": " + reason_;
      return false;
    }
    return true;
  }

  void stop() {
    {
      std::lock_guard lock(mu_);
      stopping_ = true;
    }
    frames_cv_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  // ----- The input feed (the system's thread) ------------------------------------

  size_t read(uint8_t* out, size_t n, int wait_ms) override {
    if (pad_left_ == 0 && at_ == FRAME_BYTES) {
      std::unique_lock lock(mu_);
      if (!frames_cv_.wait_for(lock, std::chrono::milliseconds(wait_ms), [&] { return !queue_.empty() || stopping_; }) ||
          queue_.empty())
        return 0;
      current_ = queue_.front();
      queue_.pop_front();
      lock.unlock();
      // The zero bytes that bring the panel's Skipped to the station's.
      pad_left_ = std::clamp<long long>(current_.skipped - padded_, 0, MAX_PAD_BYTES);
      padded_ += pad_left_;
      at_ = 0;
    }
    size_t given = 0;
    if (pad_left_ > 0) {
      given = static_cast<size_t>(std::min<long long>(pad_left_, static_cast<long long>(n)));
      std::memset(out, 0, given);
      pad_left_ -= static_cast<long long>(given);
      if (given == n) return given;
    }
    const size_t take = std::min(n - given, static_cast<size_t>(FRAME_BYTES - at_));
    std::memcpy(out + given, current_.bytes.data() + at_, take);
    at_ += static_cast<int>(take);
    if (at_ == FRAME_BYTES) {
      std::lock_guard lock(shown_mu_);
      if (handed_.size() >= SHOWN_FIFO) handed_.pop_front();
      handed_.push_back({current_.bytes, current_.time_ms});
    }
    return given + take;
  }

  // A good frame is on the panel (the system's thread): its age.
  void shown(const uint8_t* bytes) {
    const int64_t now = unix_ms();
    std::lock_guard lock(shown_mu_);
    while (!handed_.empty()) {
      const Handed h = handed_.front();
      handed_.pop_front();
      if (std::memcmp(h.bytes.data(), bytes, FRAME_BYTES) != 0) continue;
      const int64_t age = std::clamp<int64_t>(now - h.time_ms, 0, LATENCY_BUCKETS - 1);
      ++latency_[static_cast<size_t>(age)];
      ++timed_;
      return;
    }
  }

  // ----- For the window and the summary ------------------------------------------

  ViewerState state() {
    std::lock_guard lock(mu_);
    ViewerState s;
    s.phase = phase_;
    s.broker = settings_.address.text();
    s.reason = reason_;
    s.status_heard = status_heard_;
    s.status = status_;
    s.frames = frames_;
    s.missed = missed_;
    s.refused = refused_total();
    s.behind = behind_;
    s.recording = settings_.record_path;
    s.recording_failure = recording_failure_;
    return s;
  }

  HealthSnapshot station_health() {
    std::lock_guard lock(mu_);
    HealthSnapshot h;
    if (!health_heard_) {
      h.playback = !status_heard_ || status_.station.mode != "live";
      h.words = "waiting";
      h.reason = "no health from the station yet";
      h.stale = true;
      return h;
    }
    h = health_.health;
    const double since = seconds_since(health_at_);
    if (h.age_s >= 0.0) h.age_s += since;
    if (h.fault_age_s >= 0.0) h.fault_age_s += since;
    if (since > HEALTH_SILENT_S) {
      h.state = LinkState::Waiting;
      h.words = "not heard";
      h.reason = "no health from the station for " + std::to_string(static_cast<long long>(since)) + " s";
      h.stale = true;
    }
    return h;
  }

  SummaryPart summary(bool* incomplete, bool* recording_lost) {
    std::lock_guard lock(mu_);
    std::lock_guard lock2(shown_mu_);
    SummaryPart part;
    part.key = "remote_view";
    std::string refused_text;
    std::string refused_json = "{";
    for (int r = 1; r < REFUSALS; ++r) {
      const auto i = static_cast<size_t>(r);
      refused_text += std::string(r > 1 ? ", " : "") + refusal_words(static_cast<Refusal>(r)) + " " +
                      count_text(refused_[i]);
      refused_json += std::string(r > 1 ? "," : "") + json_string(refusal_token(static_cast<Refusal>(r))) + ":" +
                      count_text(refused_[i]);
    }
    refused_text += ", out of sequence " + count_text(out_of_sequence_);
    refused_json += ",\"out_of_sequence\":" + count_text(out_of_sequence_) + "}";
    part.lines.push_back("  remote view of " + settings_.address.text() + ": frames received " + count_text(frames_) +
                         ", missed " + count_text(missed_) + " (from the sequence numbers), not shown " +
                         count_text(behind_) + " (the panel fell behind)");
    part.lines.push_back("  refused messages " + count_text(refused_total()) + ": " + refused_text);
    const double median = percentile(0.5), p99 = percentile(0.99);
    if (timed_ > 0)
      part.lines.push_back("  station frame to this panel: median " + std::to_string(static_cast<long long>(median)) +
                           " ms, 99th percentile " + std::to_string(static_cast<long long>(p99)) + " ms (" +
                           count_text(timed_) + " frames; includes any difference between the two clocks)");
    if (!settings_.record_path.empty())
      part.lines.push_back("  recorded " + count_text(recorded_) + " frames to " + settings_.record_path +
                           (recording_failure_.empty() ? "" : " (RECORDING FAILED: " + recording_failure_ + ")"));
    if (refused_login_) part.lines.push_back("  REFUSED: " + refusal_);
    part.json = "{\"broker\":" + json_string(settings_.address.text()) + ",\"frames_received\":" + count_text(frames_) +
                ",\"frames_missed\":" + count_text(missed_) + ",\"frames_not_shown\":" + count_text(behind_) +
                ",\"refused\":" + refused_json + ",\"latency_ms\":" +
                (timed_ > 0 ? "{\"median\":" + json_double(median) + ",\"p99\":" + json_double(p99) +
                                  ",\"frames\":" + count_text(timed_) + "}"
                            : std::string("null")) +
                ",\"recording\":" + json_string(settings_.record_path) + ",\"frames_recorded\":" +
                count_text(recorded_) + ",\"recording_failure\":" + json_string(recording_failure_) +
                ",\"login_refused\":" + json_string(refused_login_ ? refusal_ : "") + "}";
    *incomplete = missed_ > 0 || refused_total() > 0 || refused_login_;
    *recording_lost = !recording_failure_.empty();
    return part;
  }

 private:
  long long refused_total() const {
    long long n = out_of_sequence_;
    for (long long r : refused_) n += r;
    return n;
  }

  // The ms below which `share` of the timed frames were shown.
  double percentile(double share) const {
    const long long want = static_cast<long long>(share * static_cast<double>(timed_ - 1));
    long long seen = 0;
    for (size_t i = 0; i < latency_.size(); ++i) {
      seen += latency_[i];
      if (seen > want) return static_cast<double>(i);
    }
    return LATENCY_BUCKETS - 1;
  }

  void refuse(Refusal r, const std::string& topic) {
    {
      std::lock_guard lock(mu_);
      ++refused_[static_cast<size_t>(r)];
    }
    // One text per topic and reason: a flood of them is coalesced by the log.
    log_warning("remote view: refused a message on " + topic + ": " + refusal_words(r));
  }

  void on_message(std::string_view topic, std::string_view payload) {
    if (topic == frame_topic_) on_frame(payload);
    else if (topic == health_topic_) on_health(payload);
    else if (topic == status_topic_) on_status(payload);
  }

  void on_frame(std::string_view payload) {
    ReceivedFrame f;
    const Refusal r = parse_frame(payload, &f);
    if (r != Refusal::None) return refuse(r, frame_topic_);
    std::string said;
    bool refused = false;
    {
      std::lock_guard lock(mu_);
      if (f.session != session_) {
        // The first frame heard, or a station that started publishing
        // again: what came before is not missed.
        if (!session_.empty()) said = "remote view: the station started publishing again (session " + f.session + ")";
        session_ = f.session;
        last_seq_ = f.seq - 1;
      } else if (f.seq <= last_seq_) {
        ++out_of_sequence_;
        refused = true;
      } else if (f.seq > last_seq_ + 1) {
        const uint64_t gap = f.seq - last_seq_ - 1;
        missed_ += static_cast<long long>(gap);
        said = "remote view: missed frames " + std::to_string(last_seq_ + 1) + " to " + std::to_string(f.seq - 1) +
               " (" + std::to_string(gap) + ")";
      }
      if (!refused) {
        last_seq_ = f.seq;
        ++frames_;
        if (queue_.size() >= VIEWER_QUEUE_FRAMES) {
          queue_.pop_front();
          ++behind_;
        }
        queue_.push_back(f);
      }
    }
    if (refused) {
      log_warning("remote view: refused a message on " + frame_topic_ + ": out of sequence");
      return;
    }
    frames_cv_.notify_one();
    if (!said.empty()) log_warning(said);
    record(f);
  }

  void record(const ReceivedFrame& f) {
    if (!record_) return;
    errno = 0;
    if (std::fwrite(f.bytes.data(), 1, FRAME_BYTES, record_) == FRAME_BYTES && std::fflush(record_) == 0) {
      {
        std::lock_guard lock(mu_);
        ++recorded_;
      }
      const ViewerRecordListener listener = record_listener();
      if (listener.frame) listener.frame(static_cast<double>(f.time_ms) / 1000.0, record_offset_, f.skipped, f.bytes.data());
      record_offset_ += static_cast<int64_t>(FRAME_BYTES);
      return;
    }
    const std::string reason = std::strerror(errno != 0 ? errno : EIO);
    std::fclose(record_);
    record_ = nullptr;
    {
      std::lock_guard lock(mu_);
      recording_failure_ = reason;
    }
    say("NOT RECORDING: cannot write recording file " + settings_.record_path + ": " + reason +
        " (the frames received from now on are shown, not recorded)");
    log_error("NOT RECORDING: cannot write recording file " + settings_.record_path + ": " + reason);
    note_exit_status(EXIT_RECORDING_LOST);
  }

  void on_health(std::string_view payload) {
    StationHealth h;
    const Refusal r = parse_health(payload, &h);
    if (r != Refusal::None) return refuse(r, health_topic_);
    std::string said;
    {
      std::lock_guard lock(mu_);
      if (!health_heard_ || h.health.state != health_.health.state)
        said = "station: link " + h.health.words + (h.health.reason.empty() ? "" : " (" + h.health.reason + ")");
      health_ = h;
      health_heard_ = true;
      health_at_ = Clock::now();
    }
    if (!said.empty()) log_info(said);
  }

  void on_status(std::string_view payload) {
    StationStatus s;
    const Refusal r = parse_status(payload, &s);
    if (r != Refusal::None) return refuse(r, status_topic_);
    std::string said;
    {
      std::lock_guard lock(mu_);
      if (!status_heard_ || s.online != status_.online || s.station.session != status_.station.session)
        said = s.online ? "station online: vst_gse " + s.station.version + ", " + s.station.mode + " of " +
                              s.station.source + " (session " + s.station.session + ")"
                        : "station offline: " + s.reason;
      status_ = s;
      status_heard_ = true;
    }
    if (!said.empty()) log_info(said);
  }

  void set_phase(ViewerState::Phase phase, const std::string& reason) {
    std::lock_guard lock(mu_);
    phase_ = phase;
    reason_ = reason;
    answered_ = true;
    first_.notify_all();
  }

  bool stopping() {
    std::lock_guard lock(mu_);
    return stopping_;
  }

  void run() {
    MqttClient client([this](std::string_view topic, std::string_view payload) { on_message(topic, payload); });
    ConnectOptions options;
    options.address = settings_.address;
    options.login = settings_.login;
    options.client_id = "vst_gse-view-" + std::to_string(unix_ms() % 100000000) + "-" +
                        std::to_string(reinterpret_cast<uintptr_t>(this) % 100000);
    options.max_packet = MAX_PACKET_BYTES;
    double backoff_s = BACKOFF_S_MIN;
    bool said = false;
    bool ever = false;
    BrokerFailure::Kind said_kind = BrokerFailure::Kind::None;
    Clock::time_point down_since = Clock::now();
    while (!stopping()) {
      BrokerFailure failure;
      if (client.connect(options, &failure) && client.subscribe(frame_topic_, 0) &&
          client.subscribe(health_topic_, 0) && client.subscribe(status_topic_, 0)) {
        if (ever) log_info("remote view: connected again to " + settings_.address.text() + " after " +
                           std::to_string(static_cast<long long>(seconds_since(down_since))) + " s");
        else log_info("remote view: connected to " + settings_.address.text() + "; read-only, nothing is sent to the instrument");
        ever = true;
        said = false;
        said_kind = BrokerFailure::Kind::None;
        backoff_s = BACKOFF_S_MIN;
        set_phase(ViewerState::Phase::Connected, "");
        while (!stopping() && client.service(SERVICE_WAIT_MS, &failure)) {
        }
        if (stopping()) break;
        down_since = Clock::now();
      }
      if (failure.kind == BrokerFailure::Kind::None) failure = {BrokerFailure::Kind::Other, "subscribing failed"};
      const bool operator_must_act = failure.needs_operator();
      set_phase(operator_must_act ? ViewerState::Phase::Refused : ViewerState::Phase::Down, failure.reason);
      const std::string where = "remote view: " + settings_.address.text() + ": ";
      if (operator_must_act) {
        {
          std::lock_guard lock(mu_);
          refused_login_ = true;
          refusal_ = failure.reason;
        }
        if (said_kind != failure.kind && ever) {
          say(where + failure.reason);
          log_error(where + failure.reason);
        }
        said_kind = failure.kind;
        if (!ever) break;  // at start: the run cannot go on (viewer_start says it)
      } else if (!said) {
        said = true;
        say(where + failure.reason + "; waiting for the broker (the frames published meanwhile are missed)");
        log_warning(where + failure.reason + "; waiting for the broker (the frames published meanwhile are missed)");
      }
      const double wait_s = operator_must_act ? BACKOFF_S_MAX : backoff_s;
      backoff_s = std::min(backoff_s * 2.0, BACKOFF_S_MAX);
      std::unique_lock lock(mu_);
      frames_cv_.wait_for(lock, std::chrono::duration<double>(wait_s), [&] { return stopping_; });
    }
    client.disconnect(100);
  }

  static constexpr double BACKOFF_S_MIN = 0.5;
  static constexpr double BACKOFF_S_MAX = 15.0;

  const ViewerSettings settings_;
  std::string frame_topic_, health_topic_, status_topic_;
  FILE* record_ = nullptr;  // the broker thread's
  int64_t record_offset_ = 0;  // where the next frame goes in it
  std::thread thread_;

  std::mutex mu_;
  std::condition_variable first_, frames_cv_;
  bool answered_ = false;
  bool stopping_ = false;
  ViewerState::Phase phase_ = ViewerState::Phase::Connecting;
  std::string reason_;
  std::deque<ReceivedFrame> queue_;
  std::string session_;
  uint64_t last_seq_ = 0;
  long long frames_ = 0, missed_ = 0, behind_ = 0, recorded_ = 0, out_of_sequence_ = 0;
  std::array<long long, REFUSALS> refused_{};
  bool refused_login_ = false;
  std::string refusal_;
  std::string recording_failure_;
  bool health_heard_ = false;
  StationHealth health_;
  Clock::time_point health_at_;
  bool status_heard_ = false;
  StationStatus status_;

  // The system's thread.
  ReceivedFrame current_;
  int at_ = FRAME_BYTES;
  long long pad_left_ = 0;
  long long padded_ = 0;

  std::mutex shown_mu_;
  std::deque<Handed> handed_;
  std::array<long long, LATENCY_BUCKETS> latency_{};
  long long timed_ = 0;
};

std::mutex viewer_mu;
std::unique_ptr<Viewer> viewer;
std::string input_name;

class ViewerFollower : public FrameObserver {
 public:
  void good_frame(const PanelModel& m) override {
    Viewer* v = nullptr;
    {
      std::lock_guard lock(viewer_mu);
      v = viewer.get();
    }
    if (!v) return;
    uint8_t bytes[SHOWN_FRAME_LEN];
    int skipped = 0;
    if (shown_frame(m, bytes, &skipped)) v->shown(bytes);
  }
};

}  // namespace

void set_viewer_record_listener(ViewerRecordListener listener) {
  std::lock_guard lock(listener_mu);
  listener_now = std::move(listener);
}

bool viewer_start(const ViewerSettings& settings, std::string* error) {
  auto v = std::make_unique<Viewer>(settings);
  if (!v->open_recording(error)) return false;
  if (!v->start(error)) {
    v->stop();
    return false;
  }
  std::lock_guard lock(viewer_mu);
  input_name = settings.address.text();
  set_input_feed(input_name, v.get());
  viewer = std::move(v);
  return true;
}

std::string viewer_input_name() {
  std::lock_guard lock(viewer_mu);
  return input_name;
}

bool viewer_active() {
  std::lock_guard lock(viewer_mu);
  return viewer != nullptr;
}

void viewer_stop() {
  std::unique_ptr<Viewer> v;
  {
    std::lock_guard lock(viewer_mu);
    v.swap(viewer);
    set_input_feed(input_name, nullptr);
  }
  if (!v) return;
  v->stop();
  bool incomplete = false, recording_lost = false;
  SummaryPart part = v->summary(&incomplete, &recording_lost);
  if (incomplete) note_exit_status(EXIT_SHARING_INCOMPLETE);
  if (recording_lost) note_exit_status(EXIT_RECORDING_LOST);
  session_add_summary_part(std::move(part));
}

ViewerState viewer_state() {
  std::lock_guard lock(viewer_mu);
  return viewer ? viewer->state() : ViewerState{};
}

HealthSnapshot viewer_station_health() {
  std::lock_guard lock(viewer_mu);
  return viewer ? viewer->station_health() : HealthSnapshot{};
}

FrameObserver* viewer_observer() {
  static ViewerFollower follower;
  return &follower;
}

}  // namespace rt
