#include "tools/sim_options.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace sim {

namespace {

bool parse_u64(const std::string& text, uint64_t& out) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

bool parse_double(const std::string& text, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  out = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && std::isfinite(out);
}

}  // namespace

std::string parse_fault_rule(const std::string& text, FaultRule& out) {
  out = FaultRule{};
  if (text.find('.') != std::string::npos) {
    if (!parse_double(text, out.rate) || out.rate < 0.0 || out.rate > 1.0) {
      return "'" + text + "' is not a rate between 0 and 1";
    }
    return "";
  }
  size_t from = 0;
  while (from <= text.size()) {
    size_t comma = text.find(',', from);
    if (comma == std::string::npos) comma = text.size();
    uint64_t index;
    if (!parse_u64(text.substr(from, comma - from), index)) {
      return "'" + text + "' is neither a rate (like 0.02) nor a list of frame indexes (like 5,17)";
    }
    out.frames.push_back(index);
    from = comma + 1;
  }
  return "";
}

std::string parse_hk_shape(const std::string& text, HkShape& out) {
  const size_t eq = text.find('=');
  const size_t at = text.find('@');
  const size_t dots = text.find("..");
  uint64_t slot = 0;
  const std::string bad = "'" + text + "' is not SLOT=VALUE@FIRST..LAST (like 16=60@100..500)";
  if (eq == std::string::npos || at == std::string::npos || dots == std::string::npos || !(eq < at && at < dots))
    return bad;
  if (!parse_u64(text.substr(0, eq), slot) || slot >= HK_SLOTS || !parse_double(text.substr(eq + 1, at - eq - 1), out.value) ||
      !parse_u64(text.substr(at + 1, dots - at - 1), out.first) || !parse_u64(text.substr(dots + 2), out.last))
    return bad;
  if (out.first > out.last) return "'" + text + "': the first frame comes after the last";
  out.slot = static_cast<int>(slot);
  return "";
}

std::string parse_options(const std::vector<std::string>& args, Options& out) {
  out = Options{};
  bool frames_given = false;
  bool rate_given = false;
  int targets = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& opt = args[i];
    auto value = [&](std::string& v) -> std::string {
      if (i + 1 >= args.size()) return opt + " needs a value";
      v = args[++i];
      return "";
    };
    std::string v;
    std::string err;
    if (opt == "-h" || opt == "--help") {
      out.help = true;
    } else if (opt == "--version") {
      out.version = true;
    } else if (opt == "--quiet") {
      out.quiet = true;
    } else if (opt == "--pty") {
      out.target = Target::PTY;
      ++targets;
    } else if (opt == "--port") {
      if (!(err = value(out.device)).empty()) return err;
      out.target = Target::PORT;
      ++targets;
    } else if (opt == "--save") {
      if (!(err = value(out.save_path)).empty()) return err;
    } else if (opt == "--out") {
      if (!(err = value(out.out_path)).empty()) return err;
      out.target = Target::FILE;
      ++targets;
    } else if (opt == "--frames") {
      if (!(err = value(v)).empty()) return err;
      if (!parse_u64(v, out.frames) || out.frames == 0) return "--frames: '" + v + "' is not a positive count";
      frames_given = true;
    } else if (opt == "--rate") {
      if (!(err = value(v)).empty()) return err;
      if (!parse_double(v, out.rate_bytes_s) || out.rate_bytes_s < 0.0) {
        return "--rate: '" + v + "' is not a byte rate (0 or more bytes per second)";
      }
      rate_given = true;
    } else if (opt == "--seed") {
      if (!(err = value(v)).empty()) return err;
      if (!parse_u64(v, out.seed)) return "--seed: '" + v + "' is not a non-negative integer";
    } else if (opt == "--linger") {
      if (!(err = value(v)).empty()) return err;
      if (!parse_double(v, out.linger_s) || out.linger_s < 0.0 || out.linger_s > 3600.0) {
        return "--linger: '" + v + "' is not a time in seconds (0 to 3600)";
      }
    } else if (opt == "--first-count") {
      if (!(err = value(v)).empty()) return err;
      uint64_t n;
      if (!parse_u64(v, n) || n > COUNT_MASK) return "--first-count: '" + v + "' is not a 21-bit counter value";
      out.first_count = static_cast<uint32_t>(n);
    } else if (opt == "--hk") {
      if (!(err = value(v)).empty()) return err;
      HkShape shape;
      if (!(err = parse_hk_shape(v, shape)).empty()) return "--hk: " + err;
      out.hk.push_back(shape);
    } else if (opt == "--noise" || opt == "--bad-checksum" || opt == "--illegal-escape" || opt == "--cut" ||
               opt == "--escapes") {
      if (!(err = value(v)).empty()) return err;
      FaultRule& rule = opt == "--noise"            ? out.faults.noise
                        : opt == "--bad-checksum"   ? out.faults.bad_checksum
                        : opt == "--illegal-escape" ? out.faults.illegal_escape
                        : opt == "--escapes"        ? out.faults.escapes
                                                    : out.faults.cut;
      if (!(err = parse_fault_rule(v, rule)).empty()) return opt + ": " + err;
    } else {
      return "unknown option '" + opt + "'";
    }
  }
  if (out.help || out.version) return "";
  if (targets == 0) return "no target: give --port DEVICE, --pty or --out FILE";
  if (targets > 1) return "give only one of --port, --pty and --out";
  if (!out.save_path.empty() && !out.link()) return "--save goes with --port or --pty";
  if (!frames_given) out.frames = out.link() ? 0 : FILE_FRAMES;
  if (!rate_given) out.rate_bytes_s = out.link() ? LINK_RATE_BYTES_S : 0.0;
  return "";
}

const char* usage_text() {
  return "usage: gse_sim (--port DEVICE | --pty | --out FILE) [options]\n"
         "Plays the instrument: sends telemetry frames to a serial device, to a\n"
         "pseudo-terminal it creates (its path is printed first: \"pty PATH\"; at\n"
         "the end it waits until the station has read what was sent), or\n"
         "writes a recording. On a link the frames carry the \"++-\" escape and\n"
         "what the station sends back is printed (\"uplink RCVD\", \"uplink command ...\").\n"
         "  --frames N            frames to send (default: until killed on a link,\n"
         "                        1000 to a file)\n"
         "  --rate BYTES_PER_S    pace (default 1920 = 19200 baud 8N1 on a link,\n"
         "                        0 = as fast as possible, the default for a file)\n"
         "  --seed N              repeatable content and faults (default 1)\n"
         "  --first-count N       fcount of the first frame (default 0)\n"
         "  --noise R|LIST        a burst of stray bytes before the frame\n"
         "  --bad-checksum R|LIST a wrong checksum\n"
         "  --illegal-escape R|LIST  \"++-\" followed by a byte other than '-' or '1'\n"
         "  --cut R|LIST          the frame stops part-way, the next follows at once\n"
         "  --escapes R|LIST      content the link must escape: \"++-\" four times in the\n"
         "                        fast samples, sent as \"++-1\" on a link\n"
         "                        R is a rate with a decimal point (0.02); LIST is\n"
         "                        frame indexes from 0 (5,17)\n"
         "  --hk SLOT=VALUE@FIRST..LAST  housekeeping slot SLOT reads VALUE (V, mA, degC\n"
         "                        or the raw word, as the panel shows it) in frames\n"
         "                        FIRST to LAST; repeatable (rehearses limits and alarms)\n"
         "  --save FILE           on a link, also write every byte sent to FILE\n"
         "  --linger S            on a link, once the station has taken the last frame,\n"
         "                        how long to wait for its last acknowledgements\n"
         "                        (default 0.5; more on a loaded machine)\n"
         "  --quiet               no line per frame\n"
         "  -h, --help            this text\n"
         "  --version             the version\n"
         "Per frame: \"frame I fcount C sent B [faults]\"; at the end a summary line.\n";
}

std::vector<UplinkMessage> UplinkSplitter::feed(const uint8_t* data, size_t n) {
  std::vector<UplinkMessage> out;
  for (size_t i = 0; i < n; ++i) {
    char b = static_cast<char>(data[i]);
    if (after_cr_) {
      after_cr_ = false;
      if (b == '\n') {
        held_ += b;
        continue;
      }
      out.push_back({false, held_});
      held_.clear();
    }
    held_ += b;
    if (b != '\r') continue;
    if (held_ == "RCVD\r") {
      out.push_back({true, held_});
      held_.clear();
    } else {
      after_cr_ = true;
    }
  }
  return out;
}

std::vector<UplinkMessage> UplinkSplitter::idle() {
  if (!after_cr_) return {};
  after_cr_ = false;
  std::vector<UplinkMessage> out{{false, held_}};
  held_.clear();
  return out;
}

std::vector<UplinkMessage> UplinkSplitter::finish() {
  if (held_.empty()) return {};
  after_cr_ = false;
  std::vector<UplinkMessage> out{{false, held_}};
  held_.clear();
  return out;
}

std::string printable(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (char c : bytes) {
    auto u = static_cast<unsigned char>(c);
    if (c == '\r') text += "\\r";
    else if (c == '\n') text += "\\n";
    else if (c == '\\') text += "\\\\";
    else if (u >= 0x20 && u < 0x7F) text += c;
    else {
      text += "\\x";
      text += digits[u >> 4];
      text += digits[u & 0x0F];
    }
  }
  return text;
}

}  // namespace sim
