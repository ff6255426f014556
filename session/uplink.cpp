#include "session/uplink.h"

#include <array>
#include <string_view>

namespace rt {

namespace {

const std::string ACK = "RCVD\r";
const std::string STOP = "3\r";
const std::string COMMAND = std::string(50, 'A') + "\r\n1\r";

struct Known {
  const std::string* bytes;
  UplinkKind kind;
};
const std::array<Known, 3> KNOWN = {{{&ACK, UplinkKind::Ack},
                                     {&STOP, UplinkKind::Stop},
                                     {&COMMAND, UplinkKind::Command}}};

std::string readable(std::string_view bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (u >= 0x20 && u < 0x7F) out += c;
    else {
      out += "\\x";
      out += digits[u >> 4];
      out += digits[u & 0x0F];
    }
  }
  return out;
}

}  // namespace

std::string describe_uplink(const UplinkMessage& message) {
  switch (message.kind) {
    case UplinkKind::Ack: return "acknowledgement (RCVD\\r)";
    case UplinkKind::Stop: return "stop command (3\\r)";
    case UplinkKind::Command: return "instrument command (50 x 'A', \\r\\n1\\r: 54 bytes)";
    case UplinkKind::Other: break;
  }
  return "bytes \"" + readable(message.bytes) + "\" (" + std::to_string(message.bytes.size()) +
         " bytes)";
}

std::vector<UplinkMessage> UplinkDecoder::feed(const uint8_t* bytes, size_t n) {
  std::vector<UplinkMessage> out;
  for (size_t i = 0; i < n; ++i) {
    held_ += static_cast<char>(bytes[i]);
    bool prefix = false;
    for (const Known& k : KNOWN) {
      if (held_ == *k.bytes) {
        out.push_back({k.kind, held_});
        held_.clear();
        prefix = false;
        break;
      }
      if (k.bytes->compare(0, held_.size(), held_) == 0) prefix = true;
    }
    if (held_.empty() || prefix) continue;
    // Begins no known message: it ends at a carriage return or a bound.
    if (bytes[i] == '\r' || held_.size() >= MAX_OTHER) {
      out.push_back({UplinkKind::Other, held_});
      held_.clear();
    }
  }
  return out;
}

std::vector<UplinkMessage> UplinkDecoder::flush() {
  if (held_.empty()) return {};
  std::vector<UplinkMessage> out{{UplinkKind::Other, held_}};
  held_.clear();
  return out;
}

}  // namespace rt
