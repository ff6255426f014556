// The publisher (publisher.h): the frame observer on the system's thread,
// the queue, and the publisher's own thread.
#include "publish/publisher.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "history/time_axis.h"
#include "present/json.h"
#include "publish/mqtt_client.h"
#include "publish/page_feed.h"
#include "publish/viewer.h"
#include "runtime/context.h"
#include "runtime/hooks.h"
#include "runtime/model.h"
#include "runtime/session_watch.h"
#include "runtime/shown_frame.h"
#include "runtime/transport.h"
#include "session/outcome.h"
#include "session/session_log.h"
#include "session/session_summary.h"

namespace rt {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int SERVICE_WAIT_MS = 10;   // a new message waits at most this long to be sent
constexpr int IDLE_WAIT_MS = 100;     // between looks at the log and the health when nothing else happens
constexpr int HEALTH_LOOK_MS = 250;   // how often the health is looked at for a change
constexpr int BATCH = 64;             // messages handed to the client between services
constexpr int STOP_JOIN_MS = 1000;    // a thread that has not ended by then is left behind
constexpr int FRAME_MESSAGES = 2;     // frame and values
constexpr size_t LOG_ROOM = 8192;     // log lines queued beside the frames
// Playback: how long frames wait for the first connection to the broker.
constexpr double FIRST_CONNECT_WAIT_S = 2.0;
// At the end of the session, a connection still being made is given this
// long (a short run's only one), so a broker that does not answer never
// holds up a quit.
constexpr int STOP_CONNECT_MS = 700;
// The last messages and the goodbye, to a broker that may be busy: within
// the bound a stopping thread is waited for (STOP_JOIN_MS).
constexpr int STOP_GOODBYE_MS = 500;
// Said when that bound ran out: the broker may not have read everything.
const std::string GOODBYE_UNCONFIRMED =
    "the broker had not acknowledged the last messages when the station said goodbye; those it had not read may be "
    "lost";
// The keep-alive: a broker that answers nothing (paused, overloaded, cut
// off) is given up, and said, within twice this.
constexpr int KEEPALIVE_S = 5;

// The reason the last will gives: the broker says it when the station's
// connection breaks without a goodbye, whatever broke it.
constexpr const char* WILL_REASON =
    "the station's connection to the broker was lost (the station stopped, or its network or the broker failed)";

int64_t unix_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

std::string new_session_id() {
  std::random_device device;
  std::mt19937_64 random((static_cast<uint64_t>(device()) << 32) ^ device() ^
                         static_cast<uint64_t>(Clock::now().time_since_epoch().count()));
  char id[17];
  std::snprintf(id, sizeof id, "%016llx", static_cast<unsigned long long>(random()));
  return id;
}

std::string seconds_text(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", s);
  return text;
}

using Item = std::variant<FrameRecord, LogEntry>;

// The sound's mute, as the window last said it (publish_set_alarms_muted).
std::atomic<bool> alarms_muted{false};
bool publish_alarms_muted() { return alarms_muted.load(); }

// The station's alarm list as published: its times on the wall clock.
PublishedAlarms published_alarms(const AlarmsSnapshot& snap, const StationInfo& station, int64_t now_ms,
                                 bool muted) {
  const auto wall_ms = [&](double t_s) { return snap.origin_ms + static_cast<int64_t>(std::llround(t_s * 1000.0)); };
  PublishedAlarms out;
  out.station = station;
  out.time_ms = now_ms;
  out.muted = muted;
  out.unacknowledged = snap.status.unacknowledged;
  for (const Alarm& a : snap.rows) {
    PublishedAlarm p;
    p.id = a.id;
    p.source = alarm_source_name(a.source);
    p.key = a.key;
    p.what = a.what;
    p.severity = a.severity == Severity::Error ? "alarm" : "caution";
    p.active = a.active;
    p.now = a.now;
    p.first_time_ms = wall_ms(a.first_s);
    p.last_time_ms = wall_ms(a.last_s);
    p.occurrences = a.occurrences;
    if (a.has_value) {
      p.worst_value = a.worst_value;
      p.worst_limit = a.worst_limit;
    }
    p.longest_s = a.longest_s;
    p.acknowledged = a.acknowledged;
    p.acknowledged_time_ms = a.acknowledged && a.acknowledged_s >= 0.0 ? wall_ms(a.acknowledged_s) : NO_TIME;
    out.alarms.push_back(std::move(p));
  }
  return out;
}

class Publisher {
 public:
  Publisher(PublishSettings settings, StationInfo station, uint64_t log_serial)
      : settings_(std::move(settings)), station_(std::move(station)), log_serial_(log_serial) {
    prefix_ = settings_.address.prefix;
    frame_topic_ = topic_of(prefix_, TOPIC_FRAME);
    values_topic_ = topic_of(prefix_, TOPIC_VALUES);
    log_topic_ = topic_of(prefix_, TOPIC_LOG);
    strip_topic_ = topic_of(prefix_, TOPIC_STRIP);
    started_ = Clock::now();
    outage_from_ = started_;
  }

  // A publisher still running at the program's end (never stopped) ends
  // its thread first.
  ~Publisher() {
    if (thread_.joinable()) stop("the station quit");
  }

  void start() { thread_ = std::thread([this] { run(); }); }

  // The system's thread: a good frame. Never waits in live mode.
  // `frame` goes into the queue and comes back as a spent record (its
  // vectors' room kept) when the publisher has one.
  void offer(FrameRecord& frame, bool playback) {
    std::unique_lock lock(mu_);
    if (stopping_) return;
    frame.seq = ++seq_;
    // Playback waits while the broker takes messages (or the first
    // connection is being made): a stall of PLAYBACK_WAIT_MS makes it slow.
    // A quit is looked for every QUIT_POLL_MS, as every wait on the
    // system's thread does.
    auto progress = Clock::now();
    while (playback && !slow_ && !stopping_ && frames_queued() >= settings_.queue_frames &&
           (phase_ == PublishState::Phase::Connected ||
            (phase_ == PublishState::Phase::Connecting && seconds_since(started_) < FIRST_CONNECT_WAIT_S))) {
      const long long taken = taken_;
      lock.unlock();
      const bool quit = quit_pending();
      lock.lock();
      if (quit) break;
      if (room_.wait_for(lock, std::chrono::milliseconds(QUIT_POLL_MS), [&] { return taken_ != taken; }))
        progress = Clock::now();
      else if (phase_ == PublishState::Phase::Connected && seconds_since(progress) * 1000.0 > PLAYBACK_WAIT_MS)
        slow_ = true;
    }
    while (frames_queued() >= settings_.queue_frames) drop_oldest();
    queue_.push_back(std::move(frame));
    if (!spent_.empty()) {
      frame = std::move(spent_.back());
      spent_.pop_back();
    }
    wake_.notify_one();
  }

  // Ends the thread: what is queued goes while the broker takes it (see
  // STOP_FLUSH_MS). False
  // when the thread did not end in time (it is then left to itself).
  bool stop(const std::string& reason) {
    {
      std::lock_guard lock(mu_);
      offline_reason_ = reason;
      stopping_ = true;
      stop_from_ = last_taken_ = Clock::now();
    }
    wake_.notify_all();
    room_.notify_all();
    std::unique_lock lock(mu_);
    // While the queue drains, and a little more for a connect under way.
    bool ended = false;
    while (!(ended = exited_.wait_for(lock, std::chrono::milliseconds(100), [&] { return ended_; })) &&
           seconds_since(last_taken_) * 1000.0 < STOP_JOIN_MS && seconds_since(stop_from_) < STOP_FLUSH_MAX_S + 1.0) {
    }
    lock.unlock();
    if (ended) thread_.join();
    else thread_.detach();
    return ended;
  }

  PublishState state() {
    std::lock_guard lock(mu_);
    PublishState s;
    s.phase = phase_;
    s.broker = settings_.address.text();
    s.reason = reason_;
    s.frames_sent = frames_sent_;
    s.dropped = dropped_;
    if (phase_ == PublishState::Phase::Down || phase_ == PublishState::Phase::Refused) s.down_s = seconds_since(outage_from_);
    return s;
  }

  const PublishSettings& settings() const { return settings_; }
  uint64_t last_seq() {
    std::lock_guard lock(mu_);
    return seq_;
  }

  // After stop: the summary's part, and whether anything was lost.
  SummaryPart summary(bool* lost, bool* goodbye_unconfirmed) {
    std::lock_guard lock(mu_);
    *goodbye_unconfirmed = goodbye_unconfirmed_;
    // Whatever is still queued was never sent.
    for (const Item& item : queue_) dropped_ += std::holds_alternative<FrameRecord>(item) ? FRAME_MESSAGES : 1;
    queue_.clear();
    // Never connected: no outage, the reason below says it all.
    if (outage_open_ && ever_connected_) close_outage();
    SummaryPart part;
    part.key = "publish";
    std::string line = "  published to " + settings_.address.text() + ": frames " + std::to_string(frames_sent_) +
                       ", messages dropped " + std::to_string(dropped_) + ", broker outages " +
                       std::to_string(outages_);
    if (outages_ > 0)
      line += " (" + duration_text(outage_total_s_) + " in all, the longest " + duration_text(outage_longest_s_) + ")";
    if (!never_connected_reason_.empty() && frames_sent_ == 0 && !ever_connected_)
      line += "; never connected: " + never_connected_reason_;
    if (refused_) line += "; REFUSED: " + refusal_;
    if (goodbye_unconfirmed_) line += "; " + GOODBYE_UNCONFIRMED;
    part.lines.push_back(line);
    part.json = "{\"broker\":" + json_string(settings_.address.text()) + ",\"session\":" + json_string(station_.session) +
                ",\"frames_published\":" + std::to_string(frames_sent_) + ",\"messages_dropped\":" +
                std::to_string(dropped_) + ",\"outages\":" + std::to_string(outages_) +
                ",\"outage_total_s\":" + json_double(outage_total_s_) + ",\"outage_longest_s\":" +
                json_double(outage_longest_s_) + ",\"refused\":" + json_string(refused_ ? refusal_ : "") +
                ",\"goodbye_acknowledged\":" + (goodbye_unconfirmed_ ? "false" : "true") + "}";
    *lost = dropped_ > 0 || refused_ || goodbye_unconfirmed_;
    return part;
  }

 private:
  // Under the lock.
  size_t frames_queued() const { return queue_.size() - logs_queued_; }
  void drop_oldest() {
    dropped_ += std::holds_alternative<FrameRecord>(queue_.front()) ? FRAME_MESSAGES : 1;
    if (std::holds_alternative<LogEntry>(queue_.front())) --logs_queued_;
    queue_.pop_front();
    if (phase_ == PublishState::Phase::Connected && !slow_said_) {
      slow_said_ = true;
      say_later_.push_back({Severity::Warning, "publish: " + settings_.address.text() +
                                                   " takes messages more slowly than they come: the oldest are "
                                                   "dropped (the queue of " +
                                                   std::to_string(settings_.queue_frames) + " is full)"});
    }
  }

  void close_outage() {
    const double s = seconds_since(outage_from_);
    ++outages_;
    outage_total_s_ += s;
    outage_longest_s_ = std::max(outage_longest_s_, s);
    outage_open_ = false;
  }

  ConnectOptions options() const {
    ConnectOptions o;
    o.address = settings_.address;
    o.login = settings_.login;
    o.client_id = "vst_gse-" + station_.session;
    o.keepalive_s = KEEPALIVE_S;
    o.will_topic = topic_of(prefix_, TOPIC_STATUS);
    o.will_payload = status_json(false, station_, unix_ms(), WILL_REASON);
    return o;
  }

  // The connect ends at once when the publisher stops before the first
  // attempt was made, after STOP_CONNECT_MS when it stops during one.
  bool stop_connecting() {
    std::lock_guard lock(mu_);
    return stopping_ && seconds_since(stop_from_) * 1000.0 > STOP_CONNECT_MS;
  }

  void run();
  void on_connected(MqttClient& client);
  void on_failure(const BrokerFailure& f);
  // Moves new log entries into the queue and looks at the health.
  void gather(MqttClient& client, bool force_health);
  // A frame gets its own time here (playback), off the system's thread.
  bool send(MqttClient& client, Item& item);
  void hold_strip(MqttClient& client, FrameRecord& frame);
  void send_strip(MqttClient& client);
  // A message the broker refused for its size: said once, as a refusal.
  void too_large(MqttClient& client);
  void send_alarms(MqttClient& client, bool force);
  int64_t frame_time(const FrameRecord& frame);
  // What a browser page needs beyond the frames (page_feed.h): what changed,
  // or everything again after a connection (`all`).
  void send_page_feed(MqttClient& client, bool all) {
    for (const PageMessage& m : page_feed_take(station_, all))
      client.publish(topic_of(prefix_, m.leaf), m.payload, 0, m.retained);
  }

  const PublishSettings settings_;
  const StationInfo station_;
  std::string prefix_;
  std::string frame_topic_, values_topic_, log_topic_, strip_topic_;

  std::mutex mu_;
  std::condition_variable wake_, room_, exited_;
  std::deque<Item> queue_;
  std::vector<FrameRecord> spent_;  // sent frames, back to the follower for their room
  uint64_t seq_ = 0;
  long long taken_ = 0;     // items the publisher's thread took from the queue
  size_t logs_queued_ = 0;  // of the queue's items, the log lines
  bool stopping_ = false;
  bool ended_ = false;
  std::string offline_reason_ = "the station quit";
  Clock::time_point stop_from_, last_taken_;
  PublishState::Phase phase_ = PublishState::Phase::Connecting;
  std::string reason_;
  long long frames_sent_ = 0;
  long long dropped_ = 0;
  bool slow_ = false;       // playback: the broker took nothing for PLAYBACK_WAIT_MS
  bool slow_said_ = false;  // the drops of a full queue were said (until it empties)
  std::vector<LogCoalescer::Line> say_later_;  // logged outside the lock
  bool ever_connected_ = false;
  bool goodbye_unconfirmed_ = false;  // the broker had not acknowledged the last messages at the goodbye
  std::string never_connected_reason_;
  bool refused_ = false;
  std::string refusal_;
  Clock::time_point started_, outage_from_;
  bool outage_open_ = true;  // until the first connection: it counts only once one was had
  int outages_ = 0;
  double outage_total_s_ = 0.0, outage_longest_s_ = 0.0;

  // The publisher's thread only.
  uint64_t log_serial_;
  Clock::time_point next_health_ = Clock::now();
  Clock::time_point next_look_ = Clock::now();
  std::string health_said_;  // what the last health message said of the state
  std::string pending_health_;
  double backoff_s_ = BACKOFF_MIN_S;
  Clock::time_point next_attempt_ = Clock::now();
  bool failure_said_ = false;  // in this outage
  bool attempted_ = false;     // a connection was tried
  BrokerFailure::Kind said_kind_ = BrokerFailure::Kind::None;
  bool too_large_said_ = false;
  std::string frame_text_, values_text_, strip_text_;  // the messages of the frame being sent
  std::vector<StripPoints> strip_parts_;  // the strip points held, [0, strip_held_)
  size_t strip_held_ = 0;
  uint64_t alarms_sent_ = ~uint64_t{0};  // the alarm list's version last published
  bool muted_sent_ = false;
  std::string alarms_pending_;            // published once the client takes it
  // Playback: the start the recording's name gives, by recording.
  std::string start_path_;
  bool start_known_ = false;
  double start_s_ = 0.0;

  std::thread thread_;
};

void Publisher::on_connected(MqttClient& client) {
  bool again = false;
  double outage = 0.0;
  long long dropped = 0;
  {
    std::lock_guard lock(mu_);
    again = ever_connected_;
    if (outage_open_ && ever_connected_) {
      outage = seconds_since(outage_from_);
      close_outage();
    }
    outage_open_ = false;
    ever_connected_ = true;
    phase_ = PublishState::Phase::Connected;
    reason_.clear();
    dropped = dropped_;
  }
  room_.notify_all();
  backoff_s_ = BACKOFF_MIN_S;
  failure_said_ = false;
  said_kind_ = BrokerFailure::Kind::None;
  client.publish(topic_of(prefix_, TOPIC_STATUS), status_json(true, station_, unix_ms(), ""), 1, true);
  send_alarms(client, /*force=*/true);
  gather(client, /*force_health=*/true);
  if (again)
    log_info("publish: connected again to " + settings_.address.text() + " after an outage of " +
             seconds_text(outage) + "; " + std::to_string(dropped) + " messages dropped so far");
  else
    log_info("publish: connected to " + settings_.address.text());
}

void Publisher::on_failure(const BrokerFailure& f) {
  if (f.kind == BrokerFailure::Kind::Stopped) return;  // the end of the session, not the broker's fault
  bool first = false;
  {
    std::lock_guard lock(mu_);
    if (phase_ == PublishState::Phase::Connected) {
      outage_from_ = Clock::now();
      outage_open_ = true;
    }
    first = !failure_said_;
    phase_ = f.needs_operator() ? PublishState::Phase::Refused : PublishState::Phase::Down;
    reason_ = f.reason;
    if (!ever_connected_) never_connected_reason_ = f.reason;
    if (f.needs_operator()) {
      refused_ = true;
      refusal_ = f.reason;
    }
  }
  room_.notify_all();
  const std::string where = "publish: " + settings_.address.text() + ": ";
  if (f.needs_operator() && said_kind_ != f.kind) {
    // The operator must act: said on standard output too, once.
    said_kind_ = f.kind;
    failure_said_ = true;
    say(where + f.reason + "; the station goes on without publishing, and tries again every " +
        seconds_text(BACKOFF_MAX_S));
    log_error(where + f.reason);
    note_exit_status(EXIT_SHARING_INCOMPLETE);
  } else if (first) {
    failure_said_ = true;
    const std::string text = where + f.reason + "; the station goes on, holds up to " +
                             std::to_string(settings_.queue_frames) +
                             " frames and log lines (then drops the oldest), and tries again with a back-off";
    say(text);
    log_warning(text);
  }
  next_attempt_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                                     f.needs_operator() ? BACKOFF_MAX_S : backoff_s_));
  backoff_s_ = std::min(backoff_s_ * 2.0, BACKOFF_MAX_S);
}

int64_t Publisher::frame_time(const FrameRecord& frame) {
  if (!frame.source || frame.offset < 0) return NO_TIME;
  if (*frame.source != start_path_) {
    start_path_ = *frame.source;
    bool from_log = false;
    // The decade the name leaves open: the latest that is not in the future.
    start_known_ = recording_start(start_path_, std::time(nullptr) + 600, &start_s_, &from_log);
  }
  if (!start_known_) return NO_TIME;
  return static_cast<int64_t>(std::llround(recording_time(start_s_, frame.offset) * 1000.0));
}

bool Publisher::send(MqttClient& client, Item& item) {
  using Sent = MqttClient::Sent;
  Sent sent = Sent::Ok;
  if (auto* frame = std::get_if<FrameRecord>(&item)) {
    // The panel's description before the first frame that needs it.
    send_page_feed(client, false);
    if (station_.mode != "live") frame->frame_time_ms = frame_time(*frame);
    // Each message is written into a buffer kept for it; the library
    // copies it once, into the packet it sends.
    frame_json(*frame, station_, &frame_text_);
    sent = client.publish(frame_topic_, frame_text_, 0, false);
    if (sent == Sent::Ok) {
      values_json(*frame, station_, &values_text_);
      sent = client.publish(values_topic_, values_text_, 0, false);
    }
    if (sent == Sent::Ok && frame->strip_t_s >= 0.0) {
      hold_strip(client, *frame);
    }
    if (sent == Sent::Ok) {
      std::lock_guard lock(mu_);
      ++frames_sent_;
    }
  } else {
    sent = client.publish(log_topic_, log_json(std::get<LogEntry>(item), station_), 0, false);
  }
  if (sent == Sent::TooLarge) too_large(client);
  return sent == Sent::Ok;
}

// The frame's strip chart points wait for the others handed over with it:
// one strip message for them all (see STRIP_FRAMES_MAX).
void Publisher::hold_strip(MqttClient& client, FrameRecord& frame) {
  if (strip_held_ == strip_parts_.size()) strip_parts_.emplace_back();
  StripPoints& p = strip_parts_[strip_held_++];
  p.seq = frame.seq;
  p.time_ms = frame.time_ms;
  p.t_s = frame.strip_t_s;
  for (size_t t = 0; t < p.traces.size(); ++t) std::swap(p.traces[t], frame.strip[t]);
  if (strip_held_ == STRIP_FRAMES_MAX) send_strip(client);
}

void Publisher::send_strip(MqttClient& client) {
  if (strip_held_ == 0) return;
  strip_json(strip_parts_.data(), strip_held_, station_, &strip_text_);
  strip_held_ = 0;
  if (client.publish(strip_topic_, strip_text_, 0, true) == MqttClient::Sent::TooLarge) too_large(client);
}

void Publisher::too_large(MqttClient& client) {
  if (too_large_said_) return;
  too_large_said_ = true;
  const uint32_t max = client.broker_max_packet();
  const std::string reason =
      "the broker at " + host_port(settings_.address) + " takes no message larger than " +
      (max > 0 ? std::to_string(max) + " bytes" : std::string("its limit")) +
      " (its maximum packet size): the station's frame messages are about 600 bytes, its values about "
      "2 KiB and its strip and spectra messages up to about 8 KiB; raise max_packet_size in the broker's configuration";
  {
    std::lock_guard lock(mu_);
    phase_ = PublishState::Phase::Refused;
    reason_ = reason;
    refused_ = true;
    refusal_ = reason;
  }
  const std::string where = "publish: " + settings_.address.text() + ": ";
  say(where + reason + "; the messages it refuses are dropped and counted");
  log_error(where + reason);
  note_exit_status(EXIT_SHARING_INCOMPLETE);
}

// The alarm list (retained): at every change of it, and of the sound's mute.
void Publisher::send_alarms(MqttClient& client, bool force) {
  const uint64_t version = watch_alarms_version();
  const bool muted = publish_alarms_muted();
  if (force || version != alarms_sent_ || muted != muted_sent_) {
    const AlarmsSnapshot snap = watch_alarms();
    alarms_pending_ = alarms_json(published_alarms(snap, station_, unix_ms(), muted));
    alarms_sent_ = snap.version;
    muted_sent_ = muted;
  }
  if (alarms_pending_.empty() || !client.connected()) return;
  const MqttClient::Sent sent = client.publish(topic_of(prefix_, TOPIC_ALARMS), alarms_pending_, 0, true);
  if (sent == MqttClient::Sent::TooLarge) too_large(client);
  if (sent != MqttClient::Sent::NotConnected) alarms_pending_.clear();
}

void Publisher::gather(MqttClient& client, bool force_health) {
  const auto now = Clock::now();
  if (!force_health && now < next_look_) return;
  next_look_ = now + std::chrono::milliseconds(HEALTH_LOOK_MS);
  // The log's new entries, behind the frames already queued.
  std::vector<LogEntry> entries = log_entries_since(log_serial_);
  long long skipped_lines = 0;
  if (!entries.empty()) {
    if (entries.front().serial > log_serial_ + 1) skipped_lines = static_cast<long long>(entries.front().serial - log_serial_ - 1);
    log_serial_ = entries.back().serial;
  }
  std::vector<LogCoalescer::Line> said;
  {
    std::lock_guard lock(mu_);
    dropped_ += skipped_lines;
    // Log lines have room of their own beside the frames' (LOG_ROOM): a
    // burst of them never pushes frames out; beyond it, they are dropped.
    for (LogEntry& e : entries) {
      if (logs_queued_ >= LOG_ROOM) {
        ++dropped_;
        continue;
      }
      ++logs_queued_;
      queue_.push_back(std::move(e));
    }
    if (queue_.empty()) {
      slow_ = false;
      slow_said_ = false;
    }
    said.swap(say_later_);
  }
  for (const auto& line : said) log_event(line.severity, line.text);
  // The health: at every change of what it says of the state, and at least
  // every HEALTH_EVERY_MS.
  const HealthSnapshot h = watch_health();
  std::string state = std::string(link_state_token(h.state)) + "|" + h.reason + "|" + std::to_string(h.port_losses);
  for (long long n : h.failures_total) state += "|" + std::to_string(n);
  if (force_health || state != health_said_ || now >= next_health_) {
    long long dropped = 0;
    {
      std::lock_guard lock(mu_);
      dropped = dropped_;
    }
    pending_health_ = health_json(h, station_, unix_ms(), dropped);
    health_said_ = state;
    next_health_ = now + std::chrono::milliseconds(HEALTH_EVERY_MS);
  }
  if (!pending_health_.empty() && client.connected()) {
    const MqttClient::Sent sent = client.publish(topic_of(prefix_, TOPIC_HEALTH), pending_health_, 0, true);
    if (sent == MqttClient::Sent::TooLarge) too_large(client);
    if (sent != MqttClient::Sent::NotConnected) pending_health_.clear();
  }
  if (client.connected()) send_alarms(client, false);
  if (client.connected()) send_page_feed(client, force_health);
}

void Publisher::run() {
  MqttClient client;
  bool last_look = false;  // at the end: the log, health and alarms once more
  for (;;) {
    bool stopping = false;
    bool leave = false;
    {
      std::lock_guard lock(mu_);
      stopping = stopping_;
      leave = stopping_ && (queue_.empty() || (!client.connected() && attempted_) ||
                            seconds_since(last_taken_) * 1000.0 > STOP_FLUSH_MS ||
                            seconds_since(stop_from_) > STOP_FLUSH_MAX_S);
    }
    // What the session's last moments logged or raised goes out too (the
    // looks are otherwise HEALTH_LOOK_MS apart).
    if (stopping && !last_look && client.connected()) {
      last_look = true;
      gather(client, /*force_health=*/true);
      continue;
    }
    if (leave) break;
    if (!client.connected()) {
      // A short run may end before the first attempt: it is made all the
      // same, so that what the run queued is sent.
      if ((!stopping && Clock::now() >= next_attempt_) || (stopping && !attempted_)) {
        attempted_ = true;
        BrokerFailure failure;
        if (client.connect(options(), &failure, [this] { return stop_connecting(); })) on_connected(client);
        else on_failure(failure);
        continue;
      }
      gather(client, false);
      std::unique_lock lock(mu_);
      const auto until = std::min(next_attempt_, Clock::now() + std::chrono::milliseconds(IDLE_WAIT_MS));
      wake_.wait_until(lock, until, [&] { return stopping_; });
      continue;
    }
    // Hand the client what is queued, as long as it writes it out.
    int handed = 0;
    Item item;
    while (handed < BATCH && !client.want_write()) {
      bool wake_offer = false;
      {
        std::lock_guard lock(mu_);
        // The frame sent last goes back for the follower to fill again:
        // at most what a waiting playback queues again at once (it waits
        // for a half-empty queue), so a backlog allocates nothing either.
        if (auto* sent = std::get_if<FrameRecord>(&item); sent && spent_.size() < settings_.queue_frames / 2)
          spent_.push_back(std::move(*sent));
        if (queue_.empty()) break;
        item = std::move(queue_.front());
        queue_.pop_front();
        if (std::holds_alternative<LogEntry>(item)) --logs_queued_;
        ++taken_;
        last_taken_ = Clock::now();
        // A playback waiting for room is woken once the queue is half
        // empty, not at every frame taken: the two threads then take turns
        // by thousands of frames, not frame by frame.
        wake_offer = frames_queued() <= settings_.queue_frames / 2;
      }
      if (wake_offer) room_.notify_one();
      if (!send(client, item)) {
        std::lock_guard lock(mu_);
        dropped_ += std::holds_alternative<FrameRecord>(item) ? FRAME_MESSAGES : 1;
      }
      ++handed;
    }
    send_strip(client);
    gather(client, false);
    bool more = false;
    {
      std::lock_guard lock(mu_);
      more = !queue_.empty();
    }
    BrokerFailure failure;
    if (!client.service(more && !client.want_write() ? 0 : SERVICE_WAIT_MS, &failure)) on_failure(failure);
  }
  if (client.connected()) {
    std::string reason;
    {
      std::lock_guard lock(mu_);
      reason = offline_reason_;
    }
    client.publish(topic_of(prefix_, TOPIC_STATUS), status_json(false, station_, unix_ms(), reason), 1, true);
    const bool confirmed = client.disconnect(STOP_GOODBYE_MS);
    std::lock_guard lock(mu_);
    goodbye_unconfirmed_ = !confirmed;
  }
  std::lock_guard lock(mu_);
  ended_ = true;
  exited_.notify_all();
}

// ----- The one publisher, and the frame observer ------------------------------

std::mutex current_mu;
std::shared_ptr<Publisher> current;
StationInfo station_base;

// Whether `current` is set, for the look at every frame (no lock when not
// publishing); written under current_mu.
std::atomic<bool> publishing{false};

std::shared_ptr<Publisher> current_publisher() {
  if (!publishing.load()) return nullptr;
  std::lock_guard lock(current_mu);
  return current;
}

// What each display of the panel is, by control id.
struct DisplayEntry {
  bool published = false;
  ShownValue::Type type = ShownValue::Type::Double;
  std::string name, unit;
  double scale = 1.0;
  bool limits = false;
};

class PublishFollower : public FrameObserver, public SessionObserver {
 public:
  // Live: the link's bytes as the station records them. A frame's time is
  // that of the read that brought its last bytes, as the session record
  // stamps it, not the moment its values had filled the panel.
  void recorded(const uint8_t*, size_t n, int64_t) override {
    if (n == 0 || !publishing.load(std::memory_order_relaxed)) return;
    read_ms_ = unix_ms();
    read_since_frame_ = true;
  }

  bool wants_alarm_rows() const override { return false; }  // the alarm list goes whole (send_alarms)

  void panel_loaded(const PanelModel& m) override {
    table_.clear();
    for (const ControlInfo& c : m.layout().controls) {
      if (c.id >= static_cast<int>(table_.size())) table_.resize(static_cast<size_t>(c.id) + 1);
      DisplayEntry& e = table_[static_cast<size_t>(c.id)];
      e.published = (c.kind == Kind::Display || c.kind == Kind::TextBox) && c.name != "PANEL_STATUS" &&
                    (c.type == ValueType::Int || c.type == ValueType::Double || c.type == ValueType::Float ||
                     c.type == ValueType::Text);
      e.type = c.type == ValueType::Int ? ShownValue::Type::Int
               : c.type == ValueType::Text ? ShownValue::Type::Text
                                           : ShownValue::Type::Double;
      e.name = c.name.rfind("PANEL_", 0) == 0 ? c.name.substr(6) : c.name;
      e.unit = c.format.unit;
      e.scale = c.format.scale;
      e.limits = c.limits.any();
    }
    last_version_ = 0;
  }

  void good_frame(const PanelModel& m) override {
    std::shared_ptr<Publisher> p = current_publisher();
    if (!p) {
      last_ = nullptr;
      return;
    }
    const uint64_t version = m.version();
    // The first frame a publisher gets carries every value shown so far.
    const uint64_t since = p.get() == last_ ? last_version_ : 0;
    last_ = p.get();
    last_version_ = version;
    // The record comes back from the publisher once sent: its vectors and
    // strings keep their room, so a frame costs no allocation.
    FrameRecord& r = record_;
    r.clear_keeping_room();
    int skipped = 0;
    if (!shown_frame(m, r.bytes.data(), &skipped)) return;
    r.skipped = skipped;
    r.time_ms = std::exchange(read_since_frame_, false) ? read_ms_ : unix_ms();
    const bool playback = transport_is_playback();
    if (playback) {
      // Where the frame lies in the recording, for the time it implies
      // (the publisher's thread works it out).
      // (The input stands just after the frame: its last byte's time is
      // within a few escapes of this.)
      const Position at = transport_position();
      r.offset = at.bytes >= FRAME_BYTES ? at.bytes - FRAME_BYTES : -1;
      const std::string source = transport_source();
      if (!source_ || *source_ != source) source_ = std::make_shared<const std::string>(source);
      r.source = source_;
    }
    page_feed_frame(m, &r);
    // A new record gets exactly the room the values need: a queue of
    // thousands of frames holds no spare capacity.
    m.changed_since(since, &changed_);
    r.values.reserve(changed_.size());
    size_t n = 0;
    for (int id : changed_) {
      if (id < 0 || id >= static_cast<int>(table_.size()) || !table_[static_cast<size_t>(id)].published) continue;
      const DisplayEntry& e = table_[static_cast<size_t>(id)];
      if (n == r.values.size()) r.values.emplace_back();
      ShownValue& v = r.values[n];
      v.name = e.name;
      v.type = e.type;
      v.unit = e.unit;
      v.limit = nullptr;
      bool ok = false;
      if (e.type == ShownValue::Type::Int) {
        int i = 0;
        ok = m.get_int(id, &i);
        v.integer = i;
      } else if (e.type == ShownValue::Type::Text) {
        ok = m.get_text(id, &v.text);
      } else {
        ok = m.get_double(id, &v.number);
        v.number *= e.scale;
      }
      if (!ok) continue;
      if (e.limits) m.read_state(id, [&](const ControlState& s) { v.limit = limit_level_name(s.limit); });
      ++n;
    }
    r.values.resize(n);
    p->offer(r, playback);
  }

 private:
  std::shared_ptr<const std::string> source_;
  FrameRecord record_;  // filled at each frame, then swapped for a spent one (Publisher::offer)
  std::vector<DisplayEntry> table_;
  std::vector<int> changed_;  // the controls changed since the last frame offered
  uint64_t last_version_ = 0;
  const Publisher* last_ = nullptr;
  int64_t read_ms_ = 0;             // the latest read of the link's bytes (system's thread)
  bool read_since_frame_ = false;  // one came since the last good frame
};

}  // namespace

void publish_install() {
  static PublishFollower follower;
  add_frame_observer(&follower);
  add_session_observer(&follower);
  add_frame_observer(viewer_observer());
  add_frame_observer(page_feed_observer());  // after the follower: a frame is offered first
}

void publish_set_alarms_muted(bool muted) { alarms_muted.store(muted); }

void publish_set_station(const std::string& version, const std::string& mode, const std::string& source) {
  std::lock_guard lock(current_mu);
  station_base.version = version;
  station_base.mode = mode;
  station_base.source = source;
}

bool publish_start(const PublishSettings& settings, bool whole_log, std::string* error) {
  std::lock_guard lock(current_mu);
  if (current) {
    *error = "already publishing to " + current->settings().address.text();
    return false;
  }
  StationInfo station = station_base;
  station.session = new_session_id();
  uint64_t serial = 0;
  if (!whole_log) {
    const std::vector<LogEntry> entries = log_entries_since(0);
    if (!entries.empty()) serial = entries.back().serial;
  }
  PublishSettings s = settings;
  s.queue_frames = std::max<size_t>(s.queue_frames, 1);
  current = std::make_shared<Publisher>(s, station, serial);
  publishing.store(true);
  log_info("publish: to " + s.address.text() + " (session " + station.session + ": frames, values, health, log, status)" +
           (s.login.username.empty() ? std::string() : ", login as \"" + s.login.username + "\" from " + s.login.source));
  current->start();
  return true;
}

namespace {

// Stops `p` (see publish_stop) on the calling thread; the status says
// offline with `reason`.
void finish(std::shared_ptr<Publisher> p, const std::string& reason) {
  const bool ended = p->stop(reason);
  if (!ended) log_warning("publish: the connection to the broker did not end in time; left behind");
  bool lost = false, unconfirmed = false;
  SummaryPart part = p->summary(&lost, &unconfirmed);
  const PublishState s = p->state();
  if (unconfirmed) {
    const std::string text = "publish: " + s.broker + ": " + GOODBYE_UNCONFIRMED;
    say(text);
    log_warning(text);
  }
  log_info("publish: stopped: " + std::to_string(s.frames_sent) + " frames published, " + std::to_string(s.dropped) +
           " messages dropped");
  if (lost) note_exit_status(EXIT_SHARING_INCOMPLETE);
  session_add_summary_part(std::move(part));
  // Left behind, the thread still uses it: keep it alive for the program's
  // life rather than free it under the thread.
  static std::mutex left_mu;
  static std::vector<std::shared_ptr<Publisher>> left_behind;
  if (!ended) {
    std::lock_guard lock(left_mu);
    left_behind.push_back(std::move(p));
  }
}

std::shared_ptr<Publisher> take_current() {
  std::shared_ptr<Publisher> p;
  std::lock_guard lock(current_mu);
  p.swap(current);
  publishing.store(false);
  return p;
}

// Publishers being stopped in the background (the window's Stop), joined
// by publish_stop(). Never destroyed: a program that ends without calling
// publish_stop (a test) must not have its exit aborted by a joinable thread.
std::mutex stopping_mu;
std::vector<std::thread>& stopping = *new std::vector<std::thread>;

}  // namespace

void publish_stop() {
  if (std::shared_ptr<Publisher> p = take_current()) finish(std::move(p), "the station quit");
  std::vector<std::thread> waiting;
  {
    std::lock_guard lock(stopping_mu);
    waiting.swap(stopping);
  }
  for (std::thread& t : waiting) t.join();
}

void publish_stop_in_background() {
  std::shared_ptr<Publisher> p = take_current();
  if (!p) return;
  std::lock_guard lock(stopping_mu);
  stopping.emplace_back(finish, std::move(p), std::string("publishing stopped"));
}

PublishState publish_state() {
  std::shared_ptr<Publisher> p = current_publisher();
  return p ? p->state() : PublishState{};
}

PublishSettings publish_settings() {
  std::shared_ptr<Publisher> p = current_publisher();
  return p ? p->settings() : PublishSettings{};
}

bool publish_current_seq(uint64_t* seq) {
  std::shared_ptr<Publisher> p = current_publisher();
  if (p) *seq = p->last_seq();
  return p != nullptr;
}

}  // namespace rt
