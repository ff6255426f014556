// The messages a station publishes and a remote viewer reads, as
// docs/mqtt.md documents them: the topics under the prefix and the JSON
// payloads. Writing uses the JSON forms of present/json.h; reading refuses
// whatever a broken or hostile publisher could put on the same topics (too
// large, not JSON, fields missing or of the wrong kind, a frame that is not
// one), so nothing read here can reach the panel unchecked. Qt-free, no I/O.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "session/link_health.h"

namespace rt {

struct LogEntry;

// The leaves under PREFIX: PREFIX/frame, PREFIX/values, ...
constexpr const char* TOPIC_FRAME = "frame";
constexpr const char* TOPIC_VALUES = "values";
constexpr const char* TOPIC_HEALTH = "health";
constexpr const char* TOPIC_LOG = "log";
constexpr const char* TOPIC_STATUS = "status";
std::string topic_of(const std::string& prefix, const char* leaf);

constexpr int FRAME_BYTES = 200;
// A payload longer than this is refused unread: the largest message a
// station sends (values) is about 2 KiB.
constexpr size_t MAX_PAYLOAD = 16 * 1024;

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
  int64_t skipped = 0;   // the panel's Skipped after it
  std::array<uint8_t, FRAME_BYTES> bytes{};
  std::vector<ShownValue> values;
  // The strip chart's points the frame appended, by trace, and when (the
  // panel's clock, seconds since start; negative: none): publish/page_feed.h.
  std::array<std::vector<uint16_t>, 4> strip;
  double strip_t_s = -1.0;
};

// Who publishes: the same in every message, so a subscriber can tell a
// station that started again (a new session) from frames it missed.
struct StationInfo {
  std::string session;  // 16 hex digits, new at every start of publishing
  std::string version;
  std::string mode;     // "live" or "playback"
  std::string source;   // the device COM1 stands for, or the recording played
};

// "2024-05-01T12:00:00.250Z"
std::string utc_time_text(int64_t time_ms);

std::string frame_json(const FrameRecord& frame, const StationInfo& station);
std::string values_json(const FrameRecord& frame, const StationInfo& station);
// `dropped`: the messages the publisher has dropped so far.
std::string health_json(const HealthSnapshot& health, const StationInfo& station, int64_t time_ms,
                        long long dropped);
std::string log_json(const LogEntry& entry, const StationInfo& station);
// `reason`: why it is offline ("" when online).
std::string status_json(bool online, const StationInfo& station, int64_t time_ms, const std::string& reason);

// "receiving", "no_frames", ... (the state as a token for programs).
const char* link_state_token(LinkState state);

// ----- Reading (the remote viewer) ------------------------------------------

enum class Refusal { None, TooLarge, NotJson, BadFields, NotAFrame };
// "too large", "not JSON", "fields missing or wrong", "not a frame".
const char* refusal_words(Refusal refusal);
// "too_large", "not_json", "bad_fields", "not_a_frame" (JSON keys).
const char* refusal_token(Refusal refusal);
constexpr int REFUSALS = 5;

struct ReceivedFrame {
  std::string session;
  uint64_t seq = 0;
  int64_t time_ms = 0;
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

}  // namespace rt
