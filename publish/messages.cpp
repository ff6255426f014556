#include "publish/messages.h"

#include <chrono>
#include <cstdio>

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

// Writes one JSON object, key by key.
class Object {
 public:
  Object& raw(std::string_view key, const std::string& value) {
    text_ += text_.size() > 1 ? "," : "";
    text_ += json_string(key);
    text_ += ':';
    text_ += value;
    return *this;
  }
  Object& text(std::string_view key, std::string_view value) { return raw(key, json_string(value)); }
  Object& integer(std::string_view key, long long value) { return raw(key, std::to_string(value)); }
  Object& number(std::string_view key, double value) { return raw(key, json_double(value)); }
  Object& boolean(std::string_view key, bool value) { return raw(key, value ? "true" : "false"); }
  std::string done() { return text_ + "}"; }

 private:
  std::string text_ = "{";
};

Object head(const StationInfo& station, int64_t time_ms) {
  Object o;
  o.text("session", station.session).integer("time_ms", time_ms).text("time", utc_time_text(time_ms));
  return o;
}

std::string failures_object(const std::array<long long, FAILURE_KINDS>& counts) {
  Object o;
  for (int k = 0; k < FAILURE_KINDS; ++k) o.integer(FAILURE_KEYS[k], counts[static_cast<size_t>(k)]);
  return o.done();
}

std::string hex(const uint8_t* bytes, int n) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(static_cast<size_t>(n) * 2);
  for (int i = 0; i < n; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 0x0F];
  }
  return out;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// ----- Reading ----------------------------------------------------------------

bool parse_object(std::string_view payload, Json* out, Refusal* refusal) {
  if (payload.size() > MAX_PAYLOAD) {
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

bool get_text(const Json& j, const char* key, size_t max, std::string* out) {
  const Json* f = field(j, key);
  if (!f || !f->is_string()) return false;
  const auto& s = f->get_ref<const std::string&>();
  if (s.size() > max) return false;
  *out = s;
  return true;
}

bool get_integer(const Json& j, const char* key, long long* out) {
  const Json* f = field(j, key);
  if (!f || !f->is_number_integer()) return false;
  *out = f->get<long long>();
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
  if (!f->is_string()) return false;
  const auto& s = f->get_ref<const std::string&>();
  if (s == "NaN") *out = std::numeric_limits<double>::quiet_NaN();
  else if (s == "Infinity") *out = std::numeric_limits<double>::infinity();
  else if (s == "-Infinity") *out = -std::numeric_limits<double>::infinity();
  else return false;
  return true;
}

bool get_counts(const Json& j, const char* key, std::array<long long, FAILURE_KINDS>* out) {
  const Json* f = field(j, key);
  if (!f || !f->is_object()) return false;
  for (int k = 0; k < FAILURE_KINDS; ++k)
    if (!get_integer(*f, FAILURE_KEYS[k], &(*out)[static_cast<size_t>(k)])) return false;
  return true;
}

bool get_station(const Json& j, StationInfo* out) {
  return get_text(j, "session", MAX_SESSION, &out->session) && get_text(j, "version", MAX_TEXT, &out->version) &&
         get_text(j, "mode", MAX_TEXT, &out->mode) && get_text(j, "source", MAX_TEXT, &out->source);
}

}  // namespace

std::string topic_of(const std::string& prefix, const char* leaf) { return prefix + "/" + leaf; }

std::string utc_time_text(int64_t time_ms) {
  using namespace std::chrono;
  const sys_time<milliseconds> t{milliseconds(time_ms)};
  const auto day = floor<days>(t);
  const year_month_day ymd{day};
  const hh_mm_ss<milliseconds> hms{t - day};
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                static_cast<int>(hms.hours().count()), static_cast<int>(hms.minutes().count()),
                static_cast<int>(hms.seconds().count()), static_cast<int>(hms.subseconds().count()));
  return text;
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

std::string frame_json(const FrameRecord& frame, const StationInfo& station) {
  return head(station, frame.time_ms)
      .integer("seq", static_cast<long long>(frame.seq))
      .integer("skipped", frame.skipped)
      .text("frame", hex(frame.bytes.data(), FRAME_BYTES))
      .done();
}

std::string values_json(const FrameRecord& frame, const StationInfo& station) {
  Object values;
  for (const ShownValue& v : frame.values) {
    Object one;
    switch (v.type) {
      case ShownValue::Type::Int: one.integer("value", v.integer); break;
      case ShownValue::Type::Double: one.number("value", v.number); break;
      case ShownValue::Type::Text: one.text("value", v.text); break;
    }
    if (!v.unit.empty()) one.text("unit", v.unit);
    if (v.limit) one.text("limit", v.limit);
    values.raw(v.name, one.done());
  }
  return head(station, frame.time_ms)
      .integer("seq", static_cast<long long>(frame.seq))
      .integer("fcount", fcount(frame.bytes.data()))
      .integer("kind", fkind(frame.bytes.data()))
      .integer("hk_slot", fcount(frame.bytes.data()) % 40)
      .raw("values", values.done())
      .done();
}

std::string health_json(const HealthSnapshot& h, const StationInfo& station, int64_t time_ms, long long dropped) {
  auto or_null = [](double v) { return v < 0.0 ? std::string("null") : json_double(v); };
  return head(station, time_ms)
      .text("version", station.version)
      .text("mode", station.mode)
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
      .integer("serial", static_cast<long long>(entry.serial))
      .text("local_time", entry.time)
      .text("severity", entry.severity == Severity::Error     ? "error"
                        : entry.severity == Severity::Warning ? "warning"
                                                              : "info")
      .text("text", entry.text)
      .done();
}

std::string status_json(bool online, const StationInfo& station, int64_t time_ms, const std::string& reason) {
  Object o = head(station, time_ms);
  o.text("state", online ? "online" : "offline")
      .text("version", station.version)
      .text("mode", station.mode)
      .text("source", station.source);
  if (!online) o.text("reason", reason);
  return o.done();
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
  if (!get_text(j, "session", MAX_SESSION, &out->session) || !get_integer(j, "seq", &seq) || seq < 1 ||
      !get_integer(j, "time_ms", &time_ms) || !get_integer(j, "skipped", &skipped) || skipped < 0 ||
      !get_text(j, "frame", 2 * FRAME_BYTES, &text))
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
      !get_text(j, "reason", MAX_TEXT, &h.reason) || !get_number(j, "fault_age_s", &h.fault_age_s, &unknown) ||
      !get_number(j, "bytes_per_s", &h.bytes_per_s) || !get_number(j, "frames_per_s", &h.frames_per_s) ||
      !get_counts(j, "failures_minute", &h.failures_minute) || !get_counts(j, "failures_total", &h.failures_total) ||
      !skipped_field || !(skipped_field->is_null() || get_integer(j, "skipped", &skipped)) ||
      !get_integer(j, "skipped_minute", &h.skipped_minute) || !get_number(j, "age_s", &h.age_s, &unknown) ||
      !field(j, "stale") || !field(j, "stale")->is_boolean() || !get_integer(j, "bytes_total", &h.bytes_total) ||
      !get_integer(j, "good_frames", &h.good_frames) || !get_number(j, "longest_gap_s", &h.longest_gap_s) ||
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

}  // namespace rt
