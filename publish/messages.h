// The messages a station publishes and a remote viewer reads, as
// docs/mqtt.md documents them: the topics under the prefix and the JSON
// payloads. Writing uses the JSON forms of present/json.h; reading refuses
// whatever a broken or hostile publisher could put on the same topics (too
// large, not JSON, fields missing or of the wrong kind, a frame that is not
// one), so nothing read here can reach the panel unchecked. Qt-free, no I/O.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "present/limits.h"
#include "session/link_health.h"

namespace rt {

struct LogEntry;

// The leaves under PREFIX: PREFIX/frame, PREFIX/values, ...
constexpr const char* TOPIC_FRAME = "frame";
constexpr const char* TOPIC_VALUES = "values";
constexpr const char* TOPIC_HEALTH = "health";
constexpr const char* TOPIC_LOG = "log";
constexpr const char* TOPIC_STATUS = "status";
constexpr const char* TOPIC_ALARMS = "alarms";
std::string topic_of(const std::string& prefix, const char* leaf);

constexpr int FRAME_BYTES = 200;
constexpr int64_t NO_TIME = INT64_MIN;
// A payload longer than this is refused unread: the largest message a
// station sends (values) is about 2 KiB; the alarm list, with a row for
// every slot, about 20 KiB.
constexpr size_t MAX_PAYLOAD = 16 * 1024;
constexpr size_t MAX_ALARMS_PAYLOAD = 128 * 1024;
constexpr size_t MAX_ALARM_ROWS = 256;

// One display a good frame wrote, as the panel shows it.
struct ShownValue {
  enum class Type { Int, Double, Text };
  std::string name;  // the control without "PANEL_": "HK16"
  Type type = Type::Double;
  long long integer = 0;
  double number = 0.0;  // in the shown unit (the display's scale applied)
  std::string text;
  std::string unit;           // the shown unit ("°C", "mA"); "" when none
  const char* limit = nullptr;  // "normal", "caution", "alarm"; nullptr: no limits
};

// A good frame as the station showed it.
struct FrameRecord {
  uint64_t seq = 0;      // 1, 2, 3, ... in the order shown, for this session
  int64_t time_ms = 0;   // when it was shown, ms since 1970-01-01 UTC
  // Playback and link replay: the time the recording implies for the frame
  // (NO_TIME when its name gives no start); live: unused, the frame's time
  // is time_ms.
  int64_t frame_time_ms = NO_TIME;
  int64_t skipped = 0;   // the panel's Skipped after it
  // Playback: the frame's first byte in the recording and the recording
  // (the publisher works frame_time_ms out of them); -1 and none live.
  int64_t offset = -1;
  std::shared_ptr<const std::string> source;
  std::array<uint8_t, FRAME_BYTES> bytes{};
  std::vector<ShownValue> values;
  // The strip chart's points the frame appended, by trace, and when (the
  // panel's clock, seconds since start; negative: none): publish/page_feed.h.
  std::array<std::vector<uint16_t>, 4> strip;
  double strip_t_s = -1.0;

  // Back to a new record's state, the vectors' room kept, for a sent record
  // filled again: bytes are written whole each time, and `values` keeps its
  // elements (their strings' room too) for the filler to overwrite and trim.
  void clear_keeping_room() {
    seq = 0;
    time_ms = 0;
    frame_time_ms = NO_TIME;
    skipped = 0;
    offset = -1;
    source = nullptr;
    for (auto& trace : strip) trace.clear();
    strip_t_s = -1.0;
  }
};

// Who publishes: the same in every message, so a subscriber can tell a
// station that started again (a new session) from frames it missed.
struct StationInfo {
  std::string session;  // 16 hex digits, new at every start of publishing
  std::string version;
  std::string mode;     // "live", "playback" or "link_replay"
  std::string source;   // the device COM1 stands for, or the recording played
};

// "2024-05-01T12:00:00.250Z"
std::string utc_time_text(int64_t time_ms);
void append_utc_time(std::string& out, int64_t time_ms);

// Every message names the station's mode; a frame and its values in
// playback or a link replay also the frame's own time (frame_time_ms,
// frame_time; null when unknown).
std::string frame_json(const FrameRecord& frame, const StationInfo& station);
std::string values_json(const FrameRecord& frame, const StationInfo& station);
// The same written into *out (its text replaced): the publisher keeps one
// buffer for each, so a frame's messages allocate nothing once it has grown.
void frame_json(const FrameRecord& frame, const StationInfo& station, std::string* out);
void values_json(const FrameRecord& frame, const StationInfo& station, std::string* out);
// `dropped`: the messages the publisher has dropped so far.
std::string health_json(const HealthSnapshot& health, const StationInfo& station, int64_t time_ms,
                        long long dropped);
std::string log_json(const LogEntry& entry, const StationInfo& station);
// `reason`: why it is offline ("" when online).
std::string status_json(bool online, const StationInfo& station, int64_t time_ms, const std::string& reason);

// "receiving", "no_frames", ... (the state as a token for programs).
const char* link_state_token(LinkState state);

// The station's alarm list (PREFIX/alarms, retained), as the station's
// window shows it. Times are ms since 1970-01-01 UTC; NO_TIME: never.
struct PublishedAlarm {
  uint64_t id = 0;
  std::string source;    // "limit", "link", "recording"
  std::string key;       // "HK16", "no frames", "not recording"
  std::string what;      // "HK16 out of limits"
  std::string severity;  // "alarm" (red) or "caution" (amber)
  bool active = false;
  std::string now;       // the state now in words
  int64_t first_time_ms = 0, last_time_ms = 0;
  long long occurrences = 0;
  std::string worst_value;  // "87.50 °C"; "" for a link or recording alarm (null)
  std::string worst_limit;  // "above the alarm limit 70.00 °C"; "" likewise
  double longest_s = 0.0;   // the longest spell of its cause
  bool acknowledged = false;
  int64_t acknowledged_time_ms = NO_TIME;
};
struct PublishedAlarms {
  StationInfo station;
  int64_t time_ms = 0;
  bool muted = false;
  int unacknowledged = 0;
  std::vector<PublishedAlarm> alarms;
};
std::string alarms_json(const PublishedAlarms& list);

// ----- Reading (the remote viewer) ------------------------------------------

enum class Refusal { None, TooLarge, NotJson, BadFields, NotAFrame };
// "too large", "not JSON", "fields missing or wrong", "not a frame".
const char* refusal_words(Refusal refusal);
// "too_large", "not_json", "bad_fields", "not_a_frame" (JSON keys).
const char* refusal_token(Refusal refusal);
constexpr int REFUSALS = 5;

// Every text read is made printable (present/json.h's printable_text)
// before it is kept, and every number must be finite and within what a
// station can send: nothing read here can forge a log line, a title or a
// terminal sequence, or overflow a count.
struct ReceivedFrame {
  std::string session;
  uint64_t seq = 0;
  int64_t time_ms = 0;
  int64_t frame_time_ms = NO_TIME;  // playback: the frame's own time, if given
  int64_t skipped = 0;
  std::array<uint8_t, FRAME_BYTES> bytes{};
};
// A frame message: its 200 bytes must start with the sync word and pass
// the checksum (link/frame.h), else NotAFrame.
Refusal parse_frame(std::string_view payload, ReceivedFrame* out);

struct StationHealth {
  StationInfo station;
  int64_t time_ms = 0;
  HealthSnapshot health;
  long long dropped = 0;
};
Refusal parse_health(std::string_view payload, StationHealth* out);

struct StationStatus {
  bool online = false;
  StationInfo station;
  int64_t time_ms = 0;
  std::string reason;
};
Refusal parse_status(std::string_view payload, StationStatus* out);

// The alarm list; a payload up to MAX_ALARMS_PAYLOAD, at most
// MAX_ALARM_ROWS rows.
Refusal parse_alarms(std::string_view payload, PublishedAlarms* out);

// The limits in force at the station, from its panel message (PREFIX/panel,
// retained): each display it lists, by name ("HK16"), with the caution and
// alarm ranges and whether they are on. A display listed without limits has
// none at the station. The hysteresis is not published: it is left at -1.
// A payload up to MAX_PANEL_PAYLOAD, at most MAX_PANEL_DISPLAYS displays;
// a range's ends are numbers or null (open), the low end not above the high.
constexpr size_t MAX_PANEL_PAYLOAD = 256 * 1024;
constexpr size_t MAX_PANEL_DISPLAYS = 1024;
struct PublishedDisplayLimits {
  std::string name;
  Limits limits;  // no ranges: none at the station
};
struct PublishedPanel {
  StationInfo station;
  std::vector<PublishedDisplayLimits> displays;
};
Refusal parse_panel(std::string_view payload, PublishedPanel* out);

// The largest sequence number a station can reach (2^53: a thousand years
// at a million frames a second); beyond it a frame is refused as forged.
constexpr uint64_t MAX_SEQ = uint64_t{1} << 53;

}  // namespace rt
