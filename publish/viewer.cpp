// The remote viewer (viewer.h): its broker thread, the input feed the
// system's thread reads, and the observer that times frames to the panel.
#include "publish/viewer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "present/json.h"
#include "publish/mqtt_client.h"
#include "runtime/context.h"
#include "runtime/hooks.h"
#include "runtime/session_watch.h"
#include "runtime/shown_frame.h"
#include "session/local_time.h"
#include "session/outcome.h"
#include "session/output_file.h"
#include "session/session_log.h"
#include "session/session_summary.h"

namespace rt {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int SERVICE_WAIT_MS = 50;
constexpr size_t SHOWN_FIFO = 8192;     // frames handed to the reader, not yet shown
constexpr int START_POLL_MS = 20;       // the start's wait looks for a quit this often

int64_t unix_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

std::string count_text(long long n) { return std::to_string(n); }

// How old frames were when the panel showed them, in ms: exact to the
// millisecond up to FINE_MS, then to 1 %, however far out (the two
// machines' clocks may differ by minutes, either way). Every figure it
// gives is a measure, never a cap.
class AgeHistogram {
 public:
  static constexpr int64_t FINE_MS = 10000;
  static constexpr double STEP = 1.01;

  void add(int64_t age_ms) {
    ++buckets_[index(age_ms)];
    ++count_;
  }
  long long count() const { return count_; }
  // The age below which `share` of the frames were shown (to the bucket).
  double percentile(double share) const {
    const auto want = static_cast<long long>(share * static_cast<double>(count_ - 1));
    long long seen = 0;
    for (const auto& [i, n] : buckets_) {
      seen += n;
      if (seen > want) return value(i);
    }
    return 0.0;
  }

 private:
  // Bucket numbers in the order of the ages: negative ages below -1.
  static long long index(int64_t ms) {
    const double a = std::fabs(static_cast<double>(ms));
    const long long i = a < FINE_MS ? static_cast<long long>(a)
                                    : FINE_MS + static_cast<long long>(std::floor(std::log(a / FINE_MS) / std::log(STEP)));
    return ms < 0 ? -i - 1 : i;
  }
  static double value(long long i) {
    if (i < 0) return -value(-i - 1);
    return i < FINE_MS ? static_cast<double>(i) : std::round(FINE_MS * std::pow(STEP, static_cast<double>(i - FINE_MS)));
  }
  std::map<long long, long long> buckets_;
  long long count_ = 0;
};

std::mutex listener_mu;
std::function<void(const uint8_t*, double)> frame_listener;

struct Handed {
  std::array<uint8_t, FRAME_BYTES> bytes;
  int64_t time_ms;
};

class Viewer : public InputFeed {
 public:
  explicit Viewer(ViewerSettings settings) : settings_(std::move(settings)) {
    frame_topic_ = topic_of(settings_.address.prefix, TOPIC_FRAME);
    health_topic_ = topic_of(settings_.address.prefix, TOPIC_HEALTH);
    status_topic_ = topic_of(settings_.address.prefix, TOPIC_STATUS);
    alarms_topic_ = topic_of(settings_.address.prefix, TOPIC_ALARMS);
  }
  ~Viewer() override {
    if (record_) std::fclose(record_);
  }

  // As the station opens its recording: a regular file only (a FIFO would
  // hold the start, a device would be written to), never through a
  // symbolic link, and an open that cannot wait.
  bool open_recording(std::string* error) {
    if (settings_.record_path.empty()) return true;
    std::string reason;
    record_ = open_output_file(settings_.record_path, /*append=*/true, /*follow_links=*/false, &reason);
    if (!record_) {
      *error = "Cannot create recording file " + settings_.record_path + ": " + printable_text(reason);
      return false;
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(settings_.record_path, ec);
    record_from_ = ec ? 0 : static_cast<int64_t>(size);
    return true;
  }

  // Starts the broker thread; waits for the first answer. False with
  // *error when the operator must act.
  bool start(std::string* error) {
    thread_ = std::thread([this] {
      run();
      std::lock_guard lock(mu_);
      ended_ = true;
      first_.notify_all();
    });
    std::unique_lock lock(mu_);
    // A quit meanwhile starts the run at once: it ends it through its teardown.
    while (!first_.wait_for(lock, std::chrono::milliseconds(START_POLL_MS), [&] { return answered_ || ended_; }))
      if (quit_signalled()) return true;
    if (phase_ == ViewerState::Phase::Refused) {
      *error = settings_.address.text() + ": " + reason_;
      return false;
    }
    return true;
  }

  // False when the broker's thread did not end within STOP_JOIN_MS: it is
  // then left to itself (and this object with it).
  bool stop() {
    {
      std::lock_guard lock(mu_);
      stopping_ = true;
    }
    frames_cv_.notify_all();
    if (!thread_.joinable()) return true;
    std::unique_lock lock(mu_);
    const bool ended = first_.wait_for(lock, std::chrono::milliseconds(STOP_JOIN_MS), [&] { return ended_; });
    lock.unlock();
    if (ended) thread_.join();
    else thread_.detach();
    return ended;
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
      ages_.add(now - h.time_ms);
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
    s.recording_from = record_from_;
    s.recording_failure = recording_failure_;
    s.prefix = settings_.address.prefix;
    s.station = settings_.address.prefix + " at " + host_port(settings_.address);
    return s;
  }

  AlarmsSnapshot station_alarms() {
    std::lock_guard lock(mu_);
    return alarms_;
  }
  bool station_muted() {
    std::lock_guard lock(mu_);
    return alarms_muted_;
  }

  HealthSnapshot station_health() {
    std::lock_guard lock(mu_);
    HealthSnapshot h;
    const double none = std::numeric_limits<double>::quiet_NaN();
    if (!health_heard_) {
      h.playback = !status_heard_ || status_.station.mode != "live";
      h.words = "waiting";
      h.reason = "no health from the station yet";
      h.stale = true;
      h.bytes_per_s = h.frames_per_s = none;
      return h;
    }
    h = health_.health;
    const double since = seconds_since(health_at_);
    if (h.age_s >= 0.0) h.age_s += since;
    if (h.fault_age_s >= 0.0) h.fault_age_s += since;
    if (since > HEALTH_SILENT_S) {
      h.state = LinkState::Waiting;
      h.words = "not heard";
      h.reason = "no health from the station for " + duration_words(since);
      h.stale = true;
      // Figures of a station not heard would be old ones: none are shown.
      h.bytes_per_s = h.frames_per_s = none;
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
    refused_text += ", out of sequence " + count_text(out_of_sequence_) + ", implausible sequence jump " +
                    count_text(forged_seq_);
    refused_json += ",\"out_of_sequence\":" + count_text(out_of_sequence_) + ",\"implausible_sequence\":" +
                    count_text(forged_seq_) + "}";
    part.lines.push_back("  remote view of " + settings_.address.text() + ": frames received " + count_text(frames_) +
                         ", missed " + count_text(missed_) + " (from the sequence numbers), not shown " +
                         count_text(behind_) + " (the panel fell behind)");
    part.lines.push_back("  refused messages " + count_text(refused_total()) + ": " + refused_text);
    const long long timed = ages_.count();
    const double median = timed > 0 ? ages_.percentile(0.5) : 0.0, p99 = timed > 0 ? ages_.percentile(0.99) : 0.0;
    if (timed > 0)
      part.lines.push_back("  station frame to this panel: median " + std::to_string(std::llround(median)) +
                           " ms, 99th percentile " + std::to_string(std::llround(p99)) + " ms (" + count_text(timed) +
                           " frames; includes any difference between the two clocks)");
    if (!settings_.record_path.empty())
      part.lines.push_back("  recorded " + count_text(recorded_) + " frames to " + settings_.record_path +
                           (recording_failure_.empty() ? "" : " (RECORDING FAILED: " + recording_failure_ + ")"));
    if (refused_login_) part.lines.push_back("  REFUSED: " + refusal_);
    if (!ever_connected_) part.lines.push_back("  never connected to the broker: " + reason_);
    part.json = "{\"broker\":" + json_string(settings_.address.text()) + ",\"frames_received\":" + count_text(frames_) +
                ",\"frames_missed\":" + count_text(missed_) + ",\"frames_not_shown\":" + count_text(behind_) +
                ",\"refused\":" + refused_json + ",\"latency_ms\":" +
                (timed > 0 ? "{\"median\":" + json_double(median) + ",\"p99\":" + json_double(p99) +
                                 ",\"frames\":" + count_text(timed) + "}"
                           : std::string("null")) +
                ",\"recording\":" + json_string(settings_.record_path) + ",\"frames_recorded\":" +
                count_text(recorded_) + ",\"recording_failure\":" + json_string(recording_failure_) +
                ",\"login_refused\":" + json_string(refused_login_ ? refusal_ : "") + ",\"connected\":" +
                (ever_connected_ ? "true" : "false") + "}";
    // A view that never reached its broker showed nothing: no success.
    *incomplete = missed_ > 0 || refused_total() > 0 || refused_login_ || !ever_connected_;
    *recording_lost = !recording_failure_.empty();
    return part;
  }

 private:
  long long refused_total() const {
    long long n = out_of_sequence_ + forged_seq_;
    for (long long r : refused_) n += r;
    return n;
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
    else if (topic == alarms_topic_) on_alarms(payload);
  }

  // Under the lock: the sequence number of a frame of the session heard so
  // far. True when the frame is taken; *said gets what to log.
  bool take_sequence(const ReceivedFrame& f, std::string* said) {
    if (f.seq <= last_seq_) {
      // Back: a repeat, or the frame taken before was not the station's.
      // A run of frames that follow each other is the station's own.
      back_run_ = f.seq == back_next_ ? back_run_ + 1 : 1;
      back_next_ = f.seq + 1;
      if (back_run_ < SEQ_RESTART_RUN) {
        ++out_of_sequence_;
        *said = "remote view: refused a message on " + frame_topic_ + ": out of sequence";
        return false;
      }
      *said = "remote view: the sequence went back from " + std::to_string(last_seq_) + " to " +
              std::to_string(f.seq) + " and goes on from there: the frame taken before was not the station's";
      back_run_ = 0;
      last_seq_ = f.seq;
      last_at_ = Clock::now();
      return true;
    }
    back_run_ = 0;
    const uint64_t gap = f.seq - last_seq_ - 1;  // f.seq > last_seq_: no wrap
    const double since = seconds_since(last_at_);
    const double possible = static_cast<double>(MAX_SEQ_SLACK) + MAX_FRAMES_PER_S * since;
    if (static_cast<double>(gap) > possible) {
      ++forged_seq_;
      *said = "remote view: refused a message on " + frame_topic_ + ": its sequence number jumps from " +
              std::to_string(last_seq_) + " to " + std::to_string(f.seq) +
              ", more frames than the station could have published in " + duration_words(since) + " (forged?)";
      return false;
    }
    if (gap > 0) {
      missed_ += static_cast<long long>(gap);
      *said = "remote view: missed frames " + std::to_string(last_seq_ + 1) + " to " + std::to_string(f.seq - 1) +
              " (" + std::to_string(gap) + ")";
    }
    last_seq_ = f.seq;
    last_at_ = Clock::now();
    return true;
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
        last_seq_ = f.seq;
        last_at_ = Clock::now();
        back_run_ = 0;
      } else {
        refused = !take_sequence(f, &said);
      }
      if (!refused) {
        ++frames_;
        if (queue_.size() >= VIEWER_QUEUE_FRAMES) {
          queue_.pop_front();
          ++behind_;
        }
        queue_.push_back(f);
      }
    }
    if (!said.empty()) log_warning(said);
    if (refused) return;
    frames_cv_.notify_one();
    {
      std::lock_guard lock(listener_mu);
      if (frame_listener)
        frame_listener(f.bytes.data(), static_cast<double>(f.frame_time_ms != NO_TIME ? f.frame_time_ms : f.time_ms) / 1000.0);
    }
    record(f);
  }

  void record(const ReceivedFrame& f) {
    if (!record_) return;
    errno = 0;
    if (std::fwrite(f.bytes.data(), 1, FRAME_BYTES, record_) == FRAME_BYTES && std::fflush(record_) == 0) {
      std::lock_guard lock(mu_);
      ++recorded_;
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
      const bool same_session = status_heard_ && s.station.session == status_.station.session;
      if (same_session && s.online && !status_.online) {
        // The same session back: its connection broke and was made again.
        said = "station online again (session " + s.station.session + "): its connection to the broker was made again after " +
               duration_words(seconds_since(offline_at_));
      } else if (!status_heard_ || s.online != status_.online || !same_session) {
        said = s.online ? "station online: vst_gse " + s.station.version + ", " + s.station.mode + " of " +
                              s.station.source + " (session " + s.station.session + ")"
                        : "station offline: " + s.reason;
      }
      if (!s.online && (!status_heard_ || status_.online)) offline_at_ = Clock::now();
      status_ = s;
      status_heard_ = true;
    }
    if (!said.empty()) log_info(said);
  }

  // The station's alarm list, shown as it is; a row that became
  // unacknowledged (new, back, or now red) counts as a raise for the sound.
  void on_alarms(std::string_view payload) {
    PublishedAlarms list;
    const Refusal r = parse_alarms(payload, &list);
    if (r != Refusal::None) return refuse(r, alarms_topic_);
    std::lock_guard lock(mu_);
    AlarmsSnapshot& snap = alarms_;
    std::map<uint64_t, std::pair<bool, Severity>> before;  // acknowledged, severity
    for (const Alarm& a : snap.rows) before[a.id] = {a.acknowledged, a.severity};
    snap.rows.clear();
    snap.origin_ms = 0;  // the rows' times are seconds since 1970
    AlarmStatus status;
    status.raises = snap.status.raises;
    status.last_raise = snap.status.last_raise;
    for (const PublishedAlarm& p : list.alarms) {
      Alarm a;
      a.id = p.id;
      a.source = p.source == "link" ? AlarmSource::Link : p.source == "recording" ? AlarmSource::Recording : AlarmSource::Limit;
      a.key = p.key;
      a.what = p.what;
      a.severity = p.severity == "alarm" ? Severity::Error : Severity::Warning;
      a.first_s = static_cast<double>(p.first_time_ms) / 1000.0;
      a.last_s = static_cast<double>(p.last_time_ms) / 1000.0;
      a.first_time = time_text(p.first_time_ms);
      a.last_time = time_text(p.last_time_ms);
      a.occurrences = p.occurrences;
      a.has_value = !p.worst_value.empty();
      a.worst_value = p.worst_value;
      a.worst_limit = p.worst_limit;
      a.longest_s = p.longest_s;
      a.active = p.active;
      a.now = p.now;
      a.acknowledged = p.acknowledged;
      if (p.acknowledged_time_ms != NO_TIME) {
        a.acknowledged_s = static_cast<double>(p.acknowledged_time_ms) / 1000.0;
        a.acknowledged_time = time_text(p.acknowledged_time_ms);
      }
      if (!a.acknowledged) {
        ++status.unacknowledged;
        status.worst_unacknowledged = std::max(status.worst_unacknowledged, a.severity);
        const auto was = before.find(a.id);
        if (was == before.end() || was->second.first || was->second.second < a.severity) {
          ++status.raises;
          status.last_raise = a.severity;
        }
      }
      snap.rows.push_back(std::move(a));
    }
    snap.status = status;
    ++snap.version;
    alarms_muted_ = list.muted;
  }

  static std::string time_text(int64_t ms) {
    return local_time_text(std::chrono::system_clock::time_point(std::chrono::milliseconds(ms)), /*millis=*/true);
  }

  void set_phase(ViewerState::Phase phase, const std::string& reason) {
    std::lock_guard lock(mu_);
    if (phase == ViewerState::Phase::Connected) ever_connected_ = true;
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
    const auto stop = [this] { return stopping(); };
    while (!stopping()) {
      BrokerFailure failure;
      if (client.connect(options, &failure, stop) && client.subscribe(frame_topic_, 0, stop) &&
          client.subscribe(health_topic_, 0, stop) && client.subscribe(status_topic_, 0, stop) &&
          client.subscribe(alarms_topic_, 0, stop)) {
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
      if (stopping() || failure.kind == BrokerFailure::Kind::Stopped) break;
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
  std::string frame_topic_, health_topic_, status_topic_, alarms_topic_;
  FILE* record_ = nullptr;  // the broker thread's
  int64_t record_from_ = 0;
  std::thread thread_;

  std::mutex mu_;
  std::condition_variable first_, frames_cv_;
  bool answered_ = false;
  bool stopping_ = false;
  bool ended_ = false;  // the broker's thread has ended
  bool ever_connected_ = false;
  ViewerState::Phase phase_ = ViewerState::Phase::Connecting;
  std::string reason_;
  std::deque<ReceivedFrame> queue_;
  std::string session_;
  uint64_t last_seq_ = 0;
  Clock::time_point last_at_;  // when the frame of last_seq_ came
  uint64_t back_next_ = 0;     // frames going back: the next that would follow them
  int back_run_ = 0;           // and how many did in a row
  long long frames_ = 0, missed_ = 0, behind_ = 0, recorded_ = 0, out_of_sequence_ = 0, forged_seq_ = 0;
  std::array<long long, REFUSALS> refused_{};
  bool refused_login_ = false;
  std::string refusal_;
  std::string recording_failure_;
  bool health_heard_ = false;
  StationHealth health_;
  Clock::time_point health_at_;
  bool status_heard_ = false;
  StationStatus status_;
  Clock::time_point offline_at_;
  AlarmsSnapshot alarms_;
  bool alarms_muted_ = false;

  // The system's thread.
  ReceivedFrame current_;
  int at_ = FRAME_BYTES;
  long long pad_left_ = 0;
  long long padded_ = 0;

  std::mutex shown_mu_;
  std::deque<Handed> handed_;
  AgeHistogram ages_;
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

void viewer_set_frame_listener(std::function<void(const uint8_t*, double)> listener) {
  std::lock_guard lock(listener_mu);
  frame_listener = std::move(listener);
}

void viewer_stop() {
  std::unique_ptr<Viewer> v;
  {
    std::lock_guard lock(viewer_mu);
    v.swap(viewer);
    set_input_feed(input_name, nullptr);
  }
  if (!v) return;
  if (!v->stop()) {
    // Its thread still runs: the object stays for it, for the program's life.
    log_warning("remote view: the connection to the broker did not end in time; left behind");
    Viewer* left = v.release();
    bool incomplete = false, recording_lost = false;
    session_add_summary_part(left->summary(&incomplete, &recording_lost));
    if (incomplete) note_exit_status(EXIT_SHARING_INCOMPLETE);
    if (recording_lost) note_exit_status(EXIT_RECORDING_LOST);
    return;
  }
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

AlarmsSnapshot viewer_station_alarms() {
  std::lock_guard lock(viewer_mu);
  return viewer ? viewer->station_alarms() : AlarmsSnapshot{};
}

bool viewer_station_muted() {
  std::lock_guard lock(viewer_mu);
  return viewer && viewer->station_muted();
}

FrameObserver* viewer_observer() {
  static ViewerFollower follower;
  return &follower;
}

}  // namespace rt
