// The simulator's command line, and the reading of what comes back on the
// uplink.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/sim_frames.h"

namespace sim {

enum class Target { NONE, PORT, PTY, FILE };

struct Options {
  Target target = Target::NONE;
  std::string device;    // --port
  std::string out_path;  // --out
  std::string save_path; // --save: a copy of every byte put on the link
  uint64_t frames = 0;   // 0: until killed (the default on a link)
  double rate_bytes_s = 0.0;
  uint64_t seed = 1;
  uint32_t first_count = 0;
  double linger_s = 0.5;  // --linger: on a link, the wait for the last acks
  FaultOptions faults;
  std::vector<HkShape> hk;  // --hk
  bool quiet = false;
  bool help = false;
  bool version = false;  // --version: print it and end
  bool link() const { return target == Target::PORT || target == Target::PTY; }
};

constexpr double LINK_RATE_BYTES_S = 1920.0;  // 19200 baud, 8N1: 10 bits a byte
constexpr uint64_t FILE_FRAMES = 1000;

// Reads the arguments after the program name into `out`, with the defaults
// of its target filled in. Returns "" on success, else the usage error.
std::string parse_options(const std::vector<std::string>& args, Options& out);

// "16=60@100..500": slot 16 reads 60 in frames 100 to 500 (--hk). Returns
// "" on success, else what is wrong.
std::string parse_hk_shape(const std::string& text, HkShape& out);

// "0.02" (a rate: has a decimal point, 0..1) or "5,17" (frame indexes).
// Returns "" on success, else what is wrong.
std::string parse_fault_rule(const std::string& text, FaultRule& out);

const char* usage_text();

// ---- Uplink ------------------------------------------------------------

// One thing the station sent: an acknowledgement ("RCVD\r") or a command
// string (the bytes as received).
struct UplinkMessage {
  bool ack = false;
  std::string bytes;
};

// Splits the uplink byte stream into messages. A message ends at '\r',
// except that a '\r' followed by '\n' lies inside a command ("...\r\n1\r"),
// so a command ending in '\r' is complete only at the next byte or when the
// line goes quiet (idle()).
class UplinkSplitter {
 public:
  std::vector<UplinkMessage> feed(const uint8_t* data, size_t n);
  // The line has been quiet for a while: a pending command is complete.
  std::vector<UplinkMessage> idle();
  // The link is closing: whatever is held, even without its '\r', is given.
  std::vector<UplinkMessage> finish();

 private:
  std::string held_;
  bool after_cr_ = false;
};

// The bytes as readable text: "\r", "\n", "\\" and "\xHH" for the rest of
// the unprintables.
std::string printable(const std::string& bytes);

}  // namespace sim
