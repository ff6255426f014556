// What the station sends the instrument, as whole messages: the
// acknowledgement "RCVD\r", the stop command "3\r" and the instrument command
// (fifty 'A', then "\r\n1\r"). The system writes them a byte at a time, so
// the bytes are gathered here until a message is whole. Qt-free.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rt {

enum class UplinkKind { Ack, Stop, Command, Other };

struct UplinkMessage {
  UplinkKind kind = UplinkKind::Other;
  std::string bytes;  // as sent
};

// "acknowledgement", "stop command (3\r)", "instrument command (...)", or
// the bytes in readable form for anything else.
std::string describe_uplink(const UplinkMessage& message);

class UplinkDecoder {
 public:
  // The messages these bytes complete, in order. Bytes that begin no known
  // message end at a carriage return (or after MAX_OTHER bytes) as Other.
  std::vector<UplinkMessage> feed(const uint8_t* bytes, size_t n);
  // Whatever is held, as Other (at the end of the session).
  std::vector<UplinkMessage> flush();

  static constexpr size_t MAX_OTHER = 64;

 private:
  std::string held_;
};

}  // namespace rt
