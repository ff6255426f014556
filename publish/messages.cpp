#include "publish/messages.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <utility>

#include <nlohmann/json.hpp>

#include "link/frame.h"
#include "link/scanner.h"
#include "present/json.h"
#include "session/session_log.h"

namespace rt {

namespace {

using Json = nlohmann::json;

// JSON keys of the failure kinds, as in the summary.
const char* const FAILURE_KEYS[FAILURE_KINDS] = {"checksum", "illegal_escape", "read_failure", "other"};
constexpr LinkState STATES[] = {LinkState::Waiting,  LinkState::Receiving, LinkState::Degraded,
                                LinkState::NoFrames, LinkState::Silent,    LinkState::PortLost,
                                LinkState::Paused,   LinkState::EndOfInput};
// A session is 16 hex digits; other texts are bounded so that a hostile
// publisher cannot fill the viewer's memory or its window.
constexpr size_t MAX_SESSION = 64;
constexpr size_t MAX_TEXT = 1024;

// Writes one JSON object, key by key: into a buffer of its own, or into
// one the caller keeps from message to message (cleared first).
class Object {
 public:
  Object() : out_(&own_) { own_ = "{"; }
  explicit Object(std::string* out) : out_(out) { out_->assign(1, '{'); }
  // out_ may point at own_: never copied.
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  // Keys are this file's own words, which need no escape: written as they
  // stand.
  Object& key(std::string_view key) {
    std::string& o = *out_;
    if (o.size() > 1) o += ',';
    o += '"';
    o += key;
    o.append("\":", 2);
    return *this;
  }
  Object& raw(std::string_view key, std::string_view value) {
    this->key(key);
    *out_ += value;
    return *this;
  }
  Object& text(std::string_view key, std::string_view value) {
    this->key(key);
    json_append_string(*out_, value);
    return *this;
  }
  Object& integer(std::string_view key, long long value) {
    this->key(key);
    json_append_integer(*out_, value);
    return *this;
  }
  Object& number(std::string_view key, double value) {
    this->key(key);
    json_append_double(*out_, value);
    return *this;
  }
  Object& boolean(std::string_view key, bool value) { return raw(key, value ? "true" : "false"); }
  // A time as utc_time_text writes it, quoted.
  Object& time(std::string_view key, int64_t time_ms) {
    this->key(key);
    *out_ += '"';
    append_utc_time(*out_, time_ms);
    *out_ += '"';
    return *this;
  }
  // The buffer, to write a member's value in place after key().
  std::string& out() { return *out_; }
  std::string done() {
    *out_ += '}';
    return own_;
  }
  void close() { *out_ += '}'; }

 private:
  std::string own_;
  std::string* out_;
};

void head(Object& o, const StationInfo& station, int64_t time_ms) {
  o.text("session", station.session).text("mode", station.mode).integer("time_ms", time_ms).time("time", time_ms);
}



// Playback: the frame's own time beside the time it was sent.
Object& frame_time(Object& o, const FrameRecord& frame, const StationInfo& station) {
  if (station.mode == "live") return o;
  if (frame.frame_time_ms == NO_TIME) return o.raw("frame_time_ms", "null").raw("frame_time", "null");
  return o.integer("frame_time_ms", frame.frame_time_ms).time("frame_time", frame.frame_time_ms);
}

std::string time_or_null(int64_t time_ms) { return time_ms == NO_TIME ? "null" : std::to_string(time_ms); }

std::string failures_object(const std::array<long long, FAILURE_KINDS>& counts) {
  Object o;
  for (int k = 0; k < FAILURE_KINDS; ++k) o.integer(FAILURE_KEYS[k], counts[static_cast<size_t>(k)]);
  return o.done();
}

// The bytes in upper-case hex, quoted.
void append_hex(std::string& out, const uint8_t* bytes, int n) {
  static const char digits[] = "0123456789ABCDEF";
  const size_t at = out.size();
  out.resize(at + 2 + static_cast<size_t>(n) * 2);
  char* p = out.data() + at;
  *p++ = '"';
  for (int i = 0; i < n; ++i) {
    *p++ = digits[bytes[i] >> 4];
    *p++ = digits[bytes[i] & 0x0F];
  }
  *p = '"';
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// ----- Reading ----------------------------------------------------------------

// What a station can send: times and counts below 2^53, durations and rates
// below a thousand million.
constexpr long long MAX_COUNT = static_cast<long long>(MAX_SEQ);
constexpr double MAX_FIGURE = 1e9;

bool parse_object(std::string_view payload, Json* out, Refusal* refusal, size_t max = MAX_PAYLOAD) {
  if (payload.size() > max) {
    *refusal = Refusal::TooLarge;
    return false;
  }
  *out = Json::parse(payload.begin(), payload.end(), nullptr, /*allow_exceptions=*/false);
  if (out->is_discarded() || !out->is_object()) {
    *refusal = Refusal::NotJson;
    return false;
  }
  return true;
}

const Json* field(const Json& j, const char* key) {
  auto it = j.find(key);
  return it == j.end() ? nullptr : &*it;
}

// A text of at most `max` bytes, made printable: a newline, an escape
// sequence or a bidirectional override from the network never reaches a
// log line, a title or a terminal.
bool get_text(const Json& j, const char* key, size_t max, std::string* out) {
  const Json* f = field(j, key);
  if (!f || !f->is_string()) return false;
  const auto& s = f->get_ref<const std::string&>();
  if (s.size() > max) return false;
  *out = printable_text(s, max);
  return true;
}

// An integer from `least` to MAX_COUNT.
bool get_integer(const Json& j, const char* key, long long* out, long long least = 0) {
  const Json* f = field(j, key);
  if (!f || !f->is_number_integer()) return false;
  // (Unsigned beyond INT64_MAX is out of range before any cast.)
  if (f->is_number_unsigned() && f->get<unsigned long long>() > static_cast<unsigned long long>(MAX_COUNT))
    return false;
  const long long v = f->get<long long>();
  if (v < least || v > MAX_COUNT) return false;
  *out = v;
  return true;
}

// A number in the JSON forms of present/json.h (NaN and infinities as
// strings), or null where `null_as` is given.
bool get_number(const Json& j, const char* key, double* out, const double* null_as = nullptr) {
  const Json* f = field(j, key);
  if (!f) return false;
  if (f->is_number()) {
    *out = f->get<double>();
    return true;
  }
  if (f->is_null() && null_as) {
    *out = *null_as;
    return true;
  }
  return f->is_string() && json_nonfinite(f->get_ref<const std::string&>(), out);
}

// A figure a station measures (an age, a rate, a duration): finite, from 0
// to MAX_FIGURE, or null where `null_as` is given. NaN, infinities and huge
// values are refused before anything turns them into an integer.
bool get_figure(const Json& j, const char* key, double* out, const double* null_as = nullptr) {
  double v = 0.0;
  if (!get_number(j, key, &v, null_as)) return false;
  if (null_as && v == *null_as && field(j, key)->is_null()) {
    *out = v;
    return true;
  }
  if (!std::isfinite(v) || v < 0.0 || v > MAX_FIGURE) return false;
  *out = v;
  return true;
}

// A time in ms since 1970, or null as NO_TIME where `nullable`.
bool get_time(const Json& j, const char* key, int64_t* out, bool nullable = false) {
  const Json* f = field(j, key);
  if (nullable && f && f->is_null()) {
    *out = NO_TIME;
    return true;
  }
  long long v = 0;
  if (!get_integer(j, key, &v)) return false;
  *out = v;
  return true;
}

bool get_counts(const Json& j, const char* key, std::array<long long, FAILURE_KINDS>* out) {
  const Json* f = field(j, key);
  if (!f || !f->is_object()) return false;
  for (int k = 0; k < FAILURE_KINDS; ++k)
    if (!get_integer(*f, FAILURE_KEYS[k], &(*out)[static_cast<size_t>(k)])) return false;
  return true;
}

bool get_bool(const Json& j, const char* key, bool* out) {
  const Json* f = field(j, key);
  if (!f || !f->is_boolean()) return false;
  *out = f->get<bool>();
  return true;
}

bool get_station(const Json& j, StationInfo* out) {
  return get_text(j, "session", MAX_SESSION, &out->session) && get_text(j, "version", MAX_TEXT, &out->version) &&
         get_text(j, "mode", MAX_TEXT, &out->mode) && get_text(j, "source", MAX_TEXT, &out->source);
}

const char* const ALARM_SOURCES_TOKENS[] = {"limit", "link", "recording"};

}  // namespace

std::string topic_of(const std::string& prefix, const char* leaf) { return prefix + "/" + leaf; }

void append_utc_time(std::string& out, int64_t time_ms) {
  using namespace std::chrono;
  // The date and time to the second, kept for the next time of the same
  // second (a frame's messages carry its times several times).
  thread_local int64_t kept_second = INT64_MIN;
  thread_local char kept[20];
  const int64_t second = time_ms >= 0 ? time_ms / 1000 : -((-time_ms + 999) / 1000);
  if (second == kept_second) {
    const int ms = static_cast<int>(time_ms - second * 1000);
    char text[] = ".000Z";
    text[1] = static_cast<char>('0' + ms / 100);
    text[2] = static_cast<char>('0' + ms / 10 % 10);
    text[3] = static_cast<char>('0' + ms % 10);
    out.append(kept, 19).append(text, 5);
    return;
  }
  const sys_time<milliseconds> t{milliseconds(time_ms)};
  const auto day = floor<days>(t);
  const year_month_day ymd{day};
  const hh_mm_ss<milliseconds> hms{t - day};
  const int year = static_cast<int>(ymd.year());
  const int fields[] = {static_cast<int>(static_cast<unsigned>(ymd.month())),
                        static_cast<int>(static_cast<unsigned>(ymd.day())),
                        static_cast<int>(hms.hours().count()), static_cast<int>(hms.minutes().count()),
                        static_cast<int>(hms.seconds().count())};
  if (year < 0 || year > 9999) {
    // Outside four digits: as printf's %04d writes it.
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", year, fields[0], fields[1], fields[2],
                  fields[3], fields[4], static_cast<int>(hms.subseconds().count()));
    out += text;
    return;
  }
  // "YYYY-MM-DDTHH:MM:SS.mmmZ", digit by digit (several times a frame).
  char text[] = "0000-00-00T00:00:00.000Z";
  const auto put = [&](int at, int value, int width) {
    for (int i = at + width - 1; i >= at; --i, value /= 10) text[i] = static_cast<char>('0' + value % 10);
  };
  put(0, year, 4);
  put(5, fields[0], 2);
  put(8, fields[1], 2);
  put(11, fields[2], 2);
  put(14, fields[3], 2);
  put(17, fields[4], 2);
  put(20, static_cast<int>(hms.subseconds().count()), 3);
  out.append(text, 24);
  std::memcpy(kept, text, 19);
  kept_second = second;
}

std::string utc_time_text(int64_t time_ms) {
  std::string out;
  append_utc_time(out, time_ms);
  return out;
}

const char* link_state_token(LinkState state) {
  switch (state) {
    case LinkState::Waiting: return "waiting";
    case LinkState::Receiving: return "receiving";
    case LinkState::Degraded: return "degraded";
    case LinkState::NoFrames: return "no_frames";
    case LinkState::Silent: return "silent";
    case LinkState::PortLost: return "port_lost";
    case LinkState::Paused: return "paused";
    case LinkState::EndOfInput: return "end_of_input";
  }
  return "waiting";
}

void frame_json(const FrameRecord& frame, const StationInfo& station, std::string* out) {
  Object o(out);
  head(o, station, frame.time_ms);
  frame_time(o, frame, station).integer("seq", static_cast<long long>(frame.seq)).integer("skipped", frame.skipped).key("frame");
  append_hex(o.out(), frame.bytes.data(), FRAME_BYTES);
  o.close();
}

std::string frame_json(const FrameRecord& frame, const StationInfo& station) {
  std::string out;
  frame_json(frame, station, &out);
  return out;
}

void values_json(const FrameRecord& frame, const StationInfo& station, std::string* out) {
  Object o(out);
  head(o, station, frame.time_ms);
  frame_time(o, frame, station)
      .integer("seq", static_cast<long long>(frame.seq))
      .integer("fcount", fcount(frame.bytes.data()))
      .integer("kind", fkind(frame.bytes.data()))
      .integer("hk_slot", fcount(frame.bytes.data()) % 40)
      .key("values");
  std::string& text = o.out();
  text += '{';
  bool first = true;
  for (const ShownValue& v : frame.values) {
    if (!first) text += ',';
    first = false;
    json_append_string(text, v.name);
    text += ":{\"value\":";
    switch (v.type) {
      case ShownValue::Type::Int: json_append_integer(text, v.integer); break;
      case ShownValue::Type::Double: json_append_double(text, v.number); break;
      case ShownValue::Type::Text: json_append_string(text, v.text); break;
    }
    if (!v.unit.empty()) {
      text += ",\"unit\":";
      json_append_string(text, v.unit);
    }
    if (v.limit) {
      text += ",\"limit\":";
      json_append_string(text, v.limit);
    }
    text += '}';
  }
  text += '}';
  o.close();
}

std::string values_json(const FrameRecord& frame, const StationInfo& station) {
  std::string out;
  values_json(frame, station, &out);
  return out;
}

std::string health_json(const HealthSnapshot& h, const StationInfo& station, int64_t time_ms, long long dropped) {
  auto or_null = [](double v) { return v < 0.0 ? std::string("null") : json_double(v); };
  Object o;
  head(o, station, time_ms);
  return o.text("version", station.version)
      .text("source", station.source)
      .text("state", link_state_token(h.state))
      .text("words", h.words)
      .text("reason", h.reason)
      .raw("fault_age_s", or_null(h.fault_age_s))
      .number("bytes_per_s", h.bytes_per_s)
      .number("frames_per_s", h.frames_per_s)
      .raw("failures_minute", failures_object(h.failures_minute))
      .raw("failures_total", failures_object(h.failures_total))
      .raw("skipped", h.skipped < 0 ? std::string("null") : std::to_string(h.skipped))
      .integer("skipped_minute", h.skipped_minute)
      .raw("age_s", or_null(h.age_s))
      .boolean("stale", h.stale)
      .integer("bytes_total", h.bytes_total)
      .integer("good_frames", h.good_frames)
      .number("longest_gap_s", h.longest_gap_s)
      .integer("port_losses", h.port_losses)
      .integer("publish_dropped", dropped)
      .done();
}

std::string log_json(const LogEntry& entry, const StationInfo& station) {
  Object o;
  return o.text("session", station.session)
      .text("mode", station.mode)
      .integer("serial", static_cast<long long>(entry.serial))
      .text("local_time", entry.time)
      .text("severity", entry.severity == Severity::Error     ? "error"
                        : entry.severity == Severity::Warning ? "warning"
                                                              : "info")
      .text("text", entry.text)
      .done();
}

std::string status_json(bool online, const StationInfo& station, int64_t time_ms, const std::string& reason) {
  Object o;
  head(o, station, time_ms);
  o.text("state", online ? "online" : "offline").text("version", station.version).text("source", station.source);
  if (!online) o.text("reason", reason);
  return o.done();
}

std::string alarms_json(const PublishedAlarms& list) {
  std::string rows = "[";
  for (const PublishedAlarm& a : list.alarms) {
    Object o;
    o.integer("id", static_cast<long long>(a.id))
        .text("source", a.source)
        .text("key", a.key)
        .text("what", a.what)
        .text("severity", a.severity)
        .boolean("active", a.active)
        .text("now", a.now)
        .integer("first_time_ms", a.first_time_ms)
        .integer("last_time_ms", a.last_time_ms)
        .integer("occurrences", a.occurrences)
        .raw("worst_value", a.worst_value.empty() ? "null" : json_string(a.worst_value))
        .raw("worst_limit", a.worst_limit.empty() ? "null" : json_string(a.worst_limit))
        .number("longest_s", a.longest_s)
        .boolean("acknowledged", a.acknowledged)
        .raw("acknowledged_time_ms", time_or_null(a.acknowledged_time_ms));
    rows += (rows.size() > 1 ? "," : "") + o.done();
  }
  rows += "]";
  Object o;
  head(o, list.station, list.time_ms);
  return o.boolean("muted", list.muted)
      .integer("unacknowledged", list.unacknowledged)
      .raw("alarms", rows)
      .done();
}

const char* refusal_words(Refusal refusal) {
  switch (refusal) {
    case Refusal::None: return "accepted";
    case Refusal::TooLarge: return "too large";
    case Refusal::NotJson: return "not JSON";
    case Refusal::BadFields: return "fields missing or wrong";
    case Refusal::NotAFrame: return "not a frame";
  }
  return "?";
}

const char* refusal_token(Refusal refusal) {
  switch (refusal) {
    case Refusal::None: return "accepted";
    case Refusal::TooLarge: return "too_large";
    case Refusal::NotJson: return "not_json";
    case Refusal::BadFields: return "bad_fields";
    case Refusal::NotAFrame: return "not_a_frame";
  }
  return "?";
}

Refusal parse_frame(std::string_view payload, ReceivedFrame* out) {
  Json j;
  Refusal refusal = Refusal::None;
  if (!parse_object(payload, &j, &refusal)) return refusal;
  long long seq = 0, time_ms = 0, skipped = 0;
  std::string text;
  out->frame_time_ms = NO_TIME;
  if (!get_text(j, "session", MAX_SESSION, &out->session) || !get_integer(j, "seq", &seq, 1) ||
      !get_integer(j, "time_ms", &time_ms) || !get_integer(j, "skipped", &skipped) ||
      !get_text(j, "frame", 2 * FRAME_BYTES, &text) ||
      (field(j, "frame_time_ms") && !get_time(j, "frame_time_ms", &out->frame_time_ms, true)))
    return Refusal::BadFields;
  if (text.size() != 2 * FRAME_BYTES) return Refusal::NotAFrame;
  for (size_t i = 0; i < FRAME_BYTES; ++i) {
    const int high = hex_digit(text[2 * i]), low = hex_digit(text[2 * i + 1]);
    if (high < 0 || low < 0) return Refusal::NotAFrame;
    out->bytes[i] = static_cast<uint8_t>(high << 4 | low);
  }
  if (!record_is_frame(out->bytes.data())) return Refusal::NotAFrame;
  out->seq = static_cast<uint64_t>(seq);
  out->time_ms = time_ms;
  out->skipped = skipped;
  return Refusal::None;
}

Refusal parse_health(std::string_view payload, StationHealth* out) {
  Json j;
  Refusal refusal = Refusal::None;
  if (!parse_object(payload, &j, &refusal)) return refusal;
  HealthSnapshot& h = out->health;
  std::string state;
  long long time_ms = 0, skipped = -1;
  const double unknown = -1.0;
  const Json* skipped_field = field(j, "skipped");
  if (!get_station(j, &out->station) || !get_integer(j, "time_ms", &time_ms) ||
      !get_text(j, "state", MAX_TEXT, &state) || !get_text(j, "words", MAX_TEXT, &h.words) ||
      !get_text(j, "reason", MAX_TEXT, &h.reason) || !get_figure(j, "fault_age_s", &h.fault_age_s, &unknown) ||
      !get_figure(j, "bytes_per_s", &h.bytes_per_s) || !get_figure(j, "frames_per_s", &h.frames_per_s) ||
      !get_counts(j, "failures_minute", &h.failures_minute) || !get_counts(j, "failures_total", &h.failures_total) ||
      !skipped_field || !(skipped_field->is_null() || get_integer(j, "skipped", &skipped)) ||
      !get_integer(j, "skipped_minute", &h.skipped_minute) || !get_figure(j, "age_s", &h.age_s, &unknown) ||
      !field(j, "stale") || !field(j, "stale")->is_boolean() || !get_integer(j, "bytes_total", &h.bytes_total) ||
      !get_integer(j, "good_frames", &h.good_frames) || !get_figure(j, "longest_gap_s", &h.longest_gap_s) ||
      !get_integer(j, "port_losses", &h.port_losses) || !get_integer(j, "publish_dropped", &out->dropped))
    return Refusal::BadFields;
  bool known = false;
  for (LinkState s : STATES)
    if (state == link_state_token(s)) {
      h.state = s;
      known = true;
    }
  if (!known) return Refusal::BadFields;
  h.skipped = skipped;
  h.stale = field(j, "stale")->get<bool>();
  h.playback = out->station.mode == "playback";
  out->time_ms = time_ms;
  return Refusal::None;
}

Refusal parse_status(std::string_view payload, StationStatus* out) {
  Json j;
  Refusal refusal = Refusal::None;
  if (!parse_object(payload, &j, &refusal)) return refusal;
  std::string state;
  long long time_ms = 0;
  if (!get_station(j, &out->station) || !get_integer(j, "time_ms", &time_ms) ||
      !get_text(j, "state", MAX_TEXT, &state) || (state != "online" && state != "offline"))
    return Refusal::BadFields;
  out->online = state == "online";
  out->time_ms = time_ms;
  out->reason.clear();
  if (!out->online && !get_text(j, "reason", MAX_TEXT, &out->reason)) return Refusal::BadFields;
  return Refusal::None;
}

Refusal parse_alarms(std::string_view payload, PublishedAlarms* out) {
  Json j;
  Refusal refusal = Refusal::None;
  if (!parse_object(payload, &j, &refusal, MAX_ALARMS_PAYLOAD)) return refusal;
  long long time_ms = 0, unacknowledged = 0;
  const Json* rows = field(j, "alarms");
  if (!get_text(j, "session", MAX_SESSION, &out->station.session) || !get_text(j, "mode", MAX_TEXT, &out->station.mode) ||
      !get_integer(j, "time_ms", &time_ms) || !get_bool(j, "muted", &out->muted) ||
      !get_integer(j, "unacknowledged", &unacknowledged) || unacknowledged > static_cast<long long>(MAX_ALARM_ROWS) ||
      !rows || !rows->is_array() || rows->size() > MAX_ALARM_ROWS)
    return Refusal::BadFields;
  out->time_ms = time_ms;
  out->unacknowledged = static_cast<int>(unacknowledged);
  out->alarms.clear();
  for (const Json& r : *rows) {
    PublishedAlarm a;
    long long id = 0;
    if (!r.is_object() || !get_integer(r, "id", &id, 1) || !get_text(r, "source", MAX_TEXT, &a.source) ||
        !get_text(r, "key", MAX_TEXT, &a.key) || !get_text(r, "what", MAX_TEXT, &a.what) ||
        !get_text(r, "severity", MAX_TEXT, &a.severity) || !get_bool(r, "active", &a.active) ||
        !get_text(r, "now", MAX_TEXT, &a.now) || !get_time(r, "first_time_ms", &a.first_time_ms) ||
        !get_time(r, "last_time_ms", &a.last_time_ms) || !get_integer(r, "occurrences", &a.occurrences) ||
        !get_figure(r, "longest_s", &a.longest_s) || !get_bool(r, "acknowledged", &a.acknowledged) ||
        !get_time(r, "acknowledged_time_ms", &a.acknowledged_time_ms, true))
      return Refusal::BadFields;
    if (a.severity != "alarm" && a.severity != "caution") return Refusal::BadFields;
    if (std::find(std::begin(ALARM_SOURCES_TOKENS), std::end(ALARM_SOURCES_TOKENS), a.source) ==
        std::end(ALARM_SOURCES_TOKENS))
      return Refusal::BadFields;
    for (auto [key, text] : {std::pair{"worst_value", &a.worst_value}, std::pair{"worst_limit", &a.worst_limit}}) {
      const Json* f = field(r, key);
      if (!f || !(f->is_null() || get_text(r, key, MAX_TEXT, text))) return Refusal::BadFields;
    }
    a.id = static_cast<uint64_t>(id);
    out->alarms.push_back(std::move(a));
  }
  return Refusal::None;
}

namespace {

// A range as the panel message writes it: null (no range), or [LOW, HIGH]
// with each end a finite number or null (open).
bool get_range(const Json& limits, const char* key, std::optional<LimitRange>* out) {
  const Json* f = field(limits, key);
  if (!f) return false;
  if (f->is_null()) {
    out->reset();
    return true;
  }
  if (!f->is_array() || f->size() != 2) return false;
  LimitRange r;
  double* ends[2] = {&r.low, &r.high};
  for (size_t i = 0; i < 2; ++i) {
    const Json& e = (*f)[i];
    if (e.is_null()) continue;  // open: the default infinity
    if (!e.is_number()) return false;
    const double v = e.get<double>();
    if (!std::isfinite(v)) return false;
    *ends[i] = v;
  }
  if (!(r.low <= r.high)) return false;
  *out = r;
  return true;
}

}  // namespace

Refusal parse_panel(std::string_view payload, PublishedPanel* out) {
  Json j;
  Refusal refusal = Refusal::None;
  if (!parse_object(payload, &j, &refusal, MAX_PANEL_PAYLOAD)) return refusal;
  const Json* displays = field(j, "displays");
  if (!get_text(j, "session", MAX_SESSION, &out->station.session) || !get_text(j, "mode", MAX_TEXT, &out->station.mode) ||
      !displays || !displays->is_array() || displays->size() > MAX_PANEL_DISPLAYS)
    return Refusal::BadFields;
  out->displays.clear();
  for (const Json& d : *displays) {
    PublishedDisplayLimits p;
    if (!d.is_object() || !get_text(d, "name", MAX_TEXT, &p.name)) return Refusal::BadFields;
    if (const Json* l = field(d, "limits"); l && !l->is_null()) {
      if (!l->is_object() || !get_range(*l, "caution", &p.limits.caution) || !get_range(*l, "alarm", &p.limits.alarm) ||
          !get_bool(*l, "enabled", &p.limits.enabled))
        return Refusal::BadFields;
    }
    out->displays.push_back(std::move(p));
  }
  return Refusal::None;
}

}  // namespace rt
