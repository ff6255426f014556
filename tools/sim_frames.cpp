#include "tools/sim_frames.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace sim {

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr uint8_t PLUS = 0x2B;   // '+'
constexpr uint8_t MINUS = 0x2D;  // '-'
constexpr uint8_t ONE = 0x31;    // '1'
constexpr uint8_t ILLEGAL_AFTER_ESCAPE = 0x3F;  // '?': neither '-' nor '1'
constexpr double TSCALE = 2.2;   // the display's time scale in its rate divisor

// Separate random streams, so that faults never change the frames' content.
constexpr uint64_t CONTENT_STREAM = 0x636f6e74656e7421ULL;
constexpr uint64_t FAULT_STREAM = 0x6661756c74732121ULL;

uint64_t splitmix64(uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

// mt19937_64's output is fixed by the standard; the distributions below are
// our own so that a seed gives the same frames with every standard library.
class Rng {
 public:
  Rng(uint64_t seed, uint64_t index, uint64_t stream)
      : engine_(splitmix64(splitmix64(seed ^ stream) ^ index)) {}

  uint64_t bits() { return engine_(); }
  double uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }  // [0, 1)
  int below(int n) { return static_cast<int>(engine_() % static_cast<uint64_t>(n)); }

  double normal() {
    double u1 = 1.0 - uniform();  // (0, 1]: log stays finite
    double u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * PI * u2);
  }

  // Knuth's product method for small means, a rounded normal otherwise.
  int poisson(double mean) {
    if (mean <= 0.0) return 0;
    if (mean < 30.0) {
      double limit = std::exp(-mean);
      double product = uniform();
      int k = 0;
      while (product > limit) {
        ++k;
        product *= uniform();
      }
      return k;
    }
    double x = std::round(mean + std::sqrt(mean) * normal());
    return x < 0.0 ? 0 : static_cast<int>(x);
  }

 private:
  std::mt19937_64 engine_;
};

void put16(Frame& f, int offset, int value) {
  uint16_t u = static_cast<uint16_t>(value);
  f[offset] = static_cast<uint8_t>(u >> 8);
  f[offset + 1] = static_cast<uint8_t>(u);
}

void put32(Frame& f, int offset, uint32_t u) {
  for (int i = 0; i < 4; ++i) f[offset + i] = static_cast<uint8_t>(u >> (24 - 8 * i));
}

void put_float(Frame& f, int offset, float value) {
  uint32_t u;
  std::memcpy(&u, &value, 4);
  put32(f, offset, u);
}

void seal(Frame& f) { put16(f, OFF_CHECKSUM, frame_sum(f.data())); }

// Seals the frame, keeping its last byte off 0xEB (see the header): a
// one-count nudge of the running word moves the sum's low byte.
void seal_off_sync(Frame& f, uint64_t index) {
  put16(f, OFF_W196, static_cast<int>((index * 7) % 32768));
  seal(f);
  if (f[FRAME_LEN - 1] == SYNC0) {
    put16(f, OFF_W196, static_cast<int>((index * 7 + 1) % 32768));
    seal(f);
  }
}

int16_t clamp16(double v) {
  return static_cast<int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
}

uint16_t clamp_u16(double v) {
  return static_cast<uint16_t>(std::lround(std::clamp(v, 0.0, 65535.0)));
}

uint8_t clamp_u8(double v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 255.0))); }

// A fraction of a turn as the 2^32-per-turn angle the instrument sends.
int32_t angle_counts(double turns) {
  double frac = turns - std::floor(turns);
  return static_cast<int32_t>(static_cast<uint32_t>(std::llround(frac * 4294967296.0) & 0xFFFFFFFFLL));
}

double wave(double t_s, double period_s, double phase = 0.0) {
  return std::sin(2.0 * PI * t_s / period_s + phase);
}

// The instrument's channel binning, which the display shares.
constexpr int WIDTH48[48] = {4,  4,  3,  4,  3,  4,  6,  8,  6,  8,  8,  6,  8,  6,  8,  12,
                             16, 12, 16, 16, 12, 16, 12, 16, 24, 32, 24, 32, 32, 24, 32, 24,
                             32, 48, 64, 48, 64, 64, 48, 64, 48, 64, 96, 128, 96, 128, 128, 96};
constexpr int LOW_EDGE48 = 42;

struct Channel {
  double centre;
  int width;
};

Channel channel48(int i) {
  int lower = LOW_EDGE48;
  for (int k = 0; k < i; ++k) lower += WIDTH48[k];
  return {lower + WIDTH48[i] / 2.0, WIDTH48[i]};
}

// Seven bands of 32 channels (64 in the first) of doubling width.
Channel channel256(int i) {
  if (i < 64) return {i + 0.5, 1};
  int band = (i - 64) / 32;  // 0..5
  int width = 2 << band;
  int lower = 64 * (1 << band) + (i - 64 - 32 * band) * width;
  return {lower + width / 2.0, width};
}

// Nominal housekeeping readings: rails in volts, currents in amperes.
constexpr double RAIL_V[6] = {5.00, 3.30, 2.50, 1.80, 1.20, 8.00};
constexpr double NEG_RAIL_V[2] = {-5.00, -3.30};
constexpr double CURRENT_A[8] = {0.012, 0.045, 0.030, 0.008, 0.065, 0.020, 0.005, 0.080};
constexpr double AUX_V[4] = {2.048, 4.096, 6.00, 9.50};
// Temperatures stay inside -40..+60 degC with room for the 16-bit rounding.
constexpr double TEMP_MIN_C = -39.5;
constexpr double TEMP_MAX_C = 59.5;
constexpr uint8_t HK_MODE = 0x05;
constexpr uint16_t HK_COMMANDS = 3;
constexpr uint16_t HK_ERRORS = 0;
constexpr uint16_t HK_SOFTWARE = 0x0213;

constexpr int HEADER_MODE = 5;        // bits 15..11 of word 2
constexpr double EVENTS_PER_S = 2473.0;

// Bytes the encoder emits for one frame, with an optional illegal escape.
Bytes encode(const Frame& frame, bool link, int illegal_at, int& illegal_stored_at) {
  // The receiver's view of the bytes sent so far.
  enum { DATA, ONE_PLUS, TWO_PLUS } state = DATA;
  Bytes out{frame[0], frame[1]};
  illegal_stored_at = -1;
  for (int i = 2; i < FRAME_LEN; ++i) {
    if (illegal_at >= 0 && illegal_stored_at < 0 && i >= illegal_at && (!link || state == DATA)) {
      out.insert(out.end(), {PLUS, PLUS, MINUS, ILLEGAL_AFTER_ESCAPE});
      illegal_stored_at = i;
    }
    uint8_t b = frame[i];
    if (!link) {
      out.push_back(b);
      continue;
    }
    switch (state) {
      case DATA:
        out.push_back(b);
        state = b == PLUS ? ONE_PLUS : DATA;
        break;
      case ONE_PLUS:
        out.push_back(b);
        state = b == PLUS ? TWO_PLUS : DATA;
        break;
      case TWO_PLUS:
        if (b == MINUS) {
          out.push_back(MINUS);  // "++-1" stores "++-"
          out.push_back(ONE);
        } else {
          out.push_back(b);  // a third '+' included: plain data
        }
        state = DATA;
        break;
    }
  }
  return out;
}

}  // namespace

double frame_period_ms(double rate_bytes_s) {
  return rate_bytes_s > 0.0 ? FRAME_LEN * 1000.0 / rate_bytes_s : 100.0;
}

double expected_counts(double x, int width, int blocks, double elapsed_s) {
  constexpr double CONTINUUM = 5.0;  // counts per unit per second below the knee
  constexpr double KNEE = 64.0;
  constexpr double LINE = 0.8;
  constexpr double LINE_AT = 511.0;
  constexpr double LINE_SIGMA = 25.0;
  double intensity = 1.0 + 0.25 * wave(elapsed_s, 120.0);
  double d = (x - LINE_AT) / LINE_SIGMA;
  double rate = CONTINUUM / (1.0 + std::pow(x / KNEE, 1.5)) + LINE * std::exp(-0.5 * d * d);
  // The display divides the counts by width * blocks * 2.2 to show `rate`.
  return intensity * rate * width * blocks * TSCALE;
}

uint16_t housekeeping_word(int slot, double t, double jitter) {
  auto volts = [](double v) { return clamp_u16(v / 10.0 * 65535.0); };
  if (slot < 6) return volts(RAIL_V[slot] * (1.0 + 0.003 * wave(t, 37.0, slot)) + 0.002 * jitter);
  if (slot < 8) {
    double v = NEG_RAIL_V[slot - 6] * (1.0 + 0.003 * wave(t, 41.0, slot)) + 0.002 * jitter;
    return clamp_u16(v / -10.0 * 65535.0);
  }
  if (slot < 16) {
    double a = CURRENT_A[slot - 8] * (1.0 + 0.05 * wave(t, 60.0, slot)) + 0.0003 * jitter;
    return clamp_u16(a / 0.1 * 65535.0);
  }
  if (slot < 32) {
    // Sixteen sensors from cool to warm, each swinging over a 10-minute
    // orbit: -14 to 43 degC in all, inside the shipped caution range
    // (-20..50) with room for the noise, so a rehearsal starts without alarms.
    double c = -8.0 + (slot - 16) * 3.0 + 6.0 * wave(t, 600.0, 0.7 * slot) + 0.3 * jitter;
    c = std::clamp(c, TEMP_MIN_C, TEMP_MAX_C);
    return clamp_u16((c + 273.15) / 500.0 * 65535.0);
  }
  if (slot < 36) return volts(AUX_V[slot - 32] * (1.0 + 0.001 * wave(t, 53.0, slot)) + 0.002 * jitter);
  if (slot == 36) return static_cast<uint16_t>((HK_MODE << 8) | (static_cast<int>(t / 10.0) & 0xFF));
  if (slot == 37) return HK_COMMANDS;
  if (slot == 38) return HK_ERRORS;
  return HK_SOFTWARE;
}

Frame make_frame(uint64_t seed, uint64_t index, uint32_t first_count, double period_ms) {
  Rng rng(seed, index, CONTENT_STREAM);
  Frame f{};
  const double elapsed_ms = static_cast<double>(index) * period_ms;
  const double t = elapsed_ms / 1000.0;
  const uint32_t count = static_cast<uint32_t>((first_count + index) & COUNT_MASK);
  const int kind = static_cast<int>(count & 0x03);
  const int sub = static_cast<int>(count & 0x1F);

  f[0] = SYNC0;
  f[1] = SYNC1;
  int config = static_cast<int>((index / 600) % 64);  // changes once a minute at 10 frames/s
  put16(f, OFF_HEADER, (HEADER_MODE << 11) | (config << 5) | static_cast<int>(count >> 16));
  put16(f, OFF_COUNT, static_cast<int>(count & 0xFFFF));

  int32_t kind_value = 0;
  switch (kind) {
    case 0: kind_value = static_cast<int32_t>(static_cast<uint32_t>(std::llround(t * EVENTS_PER_S))); break;
    case 1: kind_value = static_cast<int32_t>(static_cast<uint32_t>(std::llround(elapsed_ms))); break;
    case 2: kind_value = angle_counts(0.1 + t / 90.0); break;     // one turn in 90 s
    default: kind_value = angle_counts(0.35 - t / 240.0); break;  // back round in 4 min
  }
  put32(f, OFF_KIND_VALUE, static_cast<uint32_t>(kind_value));

  put16(f, OFF_W10, clamp16(12000.0 * wave(t, 45.0) + 30.0 * rng.normal()));
  // A magnetometer's three axes, in nanotesla.
  put_float(f, OFF_F12, static_cast<float>(21000.0 * std::cos(2.0 * PI * t / 300.0) + 5.0 * rng.normal()));
  put_float(f, OFF_F16, static_cast<float>(5000.0 * wave(t, 300.0) + 5.0 * rng.normal()));
  put_float(f, OFF_F20, static_cast<float>(-42000.0 + 300.0 * wave(t, 150.0) + 5.0 * rng.normal()));
  // Kinds 0 and 2: detector bias in volts; kinds 1 and 3: a rate ratio.
  float f24 = (kind % 2 == 0) ? static_cast<float>(-850.0 + 0.5 * rng.normal())
                              : static_cast<float>(0.5 + 0.1 * wave(t, 80.0) + 0.01 * rng.normal());
  put_float(f, OFF_F24, f24);

  put16(f, OFF_HK, housekeeping_word(static_cast<int>(count % HK_SLOTS), t,
                                     std::clamp(rng.normal() / 3.0, -1.0, 1.0)));

  for (int g = 0; g < STRIP_GROUPS; ++g) {
    double s = static_cast<double>(index * STRIP_GROUPS + g);  // sample number
    int at = OFF_STRIP + 6 * g;
    put16(f, at, clamp_u16(32768.0 + 26000.0 * std::sin(2.0 * PI * s / 400.0) + 200.0 * rng.normal()));
    put16(f, at + 2, static_cast<int>(std::fmod(s, 500.0) * 65535.0 / 500.0));  // ramp
    f[at + 4] = clamp_u8(125.0 + 90.0 * std::tanh(4.0 * std::sin(2.0 * PI * s / 600.0)));  // square-ish
    f[at + 5] = clamp_u8(128.0 + 25.0 * rng.normal());  // noise
  }

  for (int i = 0; i < 12; ++i) {
    Channel ch = channel48(12 * kind + i);
    put16(f, OFF_SPEC48 + 2 * i, std::min(rng.poisson(expected_counts(ch.centre, ch.width, 4, t)), 32767));
  }
  for (int i = 0; i < 8; ++i) {
    Channel ch = channel256(8 * sub + i);
    put16(f, OFF_SPEC256 + 2 * i, std::min(rng.poisson(expected_counts(ch.centre, ch.width, 32, t)), 32767));
  }

  constexpr int W190_BASE[4] = {412, 1850, -730, 96};
  put16(f, OFF_W190, clamp16(W190_BASE[kind] + 20.0 * rng.normal()));
  put16(f, OFF_W192, clamp16(2100.0 + 150.0 * wave(t, 600.0) + 3.0 * rng.normal()));
  put16(f, OFF_W194, clamp16(-1500.0 + 40.0 * rng.normal()));
  put16(f, OFF_W196, static_cast<int>((index * 7) % 32768));
  seal_off_sync(f, index);
  return f;
}

uint16_t housekeeping_word_for(int slot, double value) {
  if (slot < 6 || (slot >= 32 && slot < 36)) return clamp_u16(value / 10.0 * 65535.0);
  if (slot < 8) return clamp_u16(value / -10.0 * 65535.0);
  if (slot < 16) return clamp_u16(value / 100.0 * 65535.0);  // mA, as the panel shows them
  if (slot < 32) return clamp_u16((value + 273.15) / 500.0 * 65535.0);
  return clamp_u16(value);
}

void shape_housekeeping(Frame& f, const std::vector<HkShape>& shapes, uint64_t index) {
  const uint32_t count = (static_cast<uint32_t>(f[OFF_HEADER + 1] & 0x1F) << 16) |
                         (static_cast<uint32_t>(f[OFF_COUNT]) << 8) | f[OFF_COUNT + 1];
  const int slot = static_cast<int>(count % HK_SLOTS);
  bool shaped = false;
  for (const HkShape& s : shapes) {
    if (s.slot != slot || index < s.first || index > s.last) continue;
    put16(f, OFF_HK, housekeeping_word_for(slot, s.value));
    shaped = true;
  }
  if (shaped) seal_off_sync(f, index);
}

Bytes escape_for_link(const Frame& frame) {
  int unused;
  return encode(frame, true, -1, unused);
}

FrameFaults choose_faults(const FaultOptions& options, uint64_t seed, uint64_t index) {
  Rng rng(seed, index, FAULT_STREAM);
  auto hits = [&](const FaultRule& rule) {
    double draw = rng.uniform();  // drawn always, so one rule never shifts another's draws
    bool listed = std::find(rule.frames.begin(), rule.frames.end(), index) != rule.frames.end();
    return listed || draw < rule.rate;
  };
  bool noise = hits(options.noise);
  bool bad = hits(options.bad_checksum);
  bool illegal = hits(options.illegal_escape);
  bool cut = hits(options.cut);
  int noise_len = 1 + rng.below(48);
  int illegal_at = 2 + rng.below(196);  // 2..197
  int cut_keep = 3 + rng.below(197);    // 3..199

  FrameFaults faults;
  if (noise) {
    for (int i = 0; i < noise_len; ++i) {
      uint8_t b;
      do b = static_cast<uint8_t>(rng.bits()); while (b == SYNC0);
      faults.noise.push_back(b);
    }
  }
  faults.bad_checksum = bad;
  if (illegal) faults.illegal_at = illegal_at;
  if (cut) faults.cut_keep = cut_keep;
  faults.escapes = hits(options.escapes);  // drawn last: a seed keeps the faults it always had
  return faults;
}

WireFrame make_wire(const Frame& frame, const FrameFaults& faults, bool link) {
  WireFrame wire;
  Frame sent = frame;
  if (faults.escapes) {
    // "++" as the last two bytes of a sample group and '-' as the first of
    // the next: samples that the link must carry as "++-1".
    for (int k = 0; k < ESCAPES_PER_FRAME; ++k) {
      const int at = OFF_STRIP + 6 * (1 + 5 * k) + 4;
      sent[at] = PLUS;
      sent[at + 1] = PLUS;
      sent[at + 2] = MINUS;
    }
    seal(sent);
    if (sent[FRAME_LEN - 1] == SYNC0) {  // never end on 0xEB (see make_frame)
      sent[OFF_W196 + 1] ^= 0x01;
      seal(sent);
    }
    wire.escapes = ESCAPES_PER_FRAME;
  }
  if (faults.bad_checksum) {
    uint8_t low = sent[FRAME_LEN - 1] ^ 0x01;
    if (low == SYNC0) low = sent[FRAME_LEN - 1] ^ 0x02;  // never end on 0xEB
    sent[FRAME_LEN - 1] = low;
    wire.bad_checksum = true;
  }
  Bytes body = encode(sent, link, faults.illegal_at, wire.illegal_stored_at);
  if (faults.cut_keep > 0 && faults.cut_keep < static_cast<int>(body.size())) {
    int keep = faults.cut_keep;
    while (keep > 2 && body[keep - 1] == SYNC0) --keep;
    body.resize(keep);
    wire.cut_keep = keep;
  }
  wire.noise_len = static_cast<int>(faults.noise.size());
  wire.frame_len = static_cast<int>(body.size());
  wire.bytes = faults.noise;
  wire.bytes.insert(wire.bytes.end(), body.begin(), body.end());
  return wire;
}

std::string describe_faults(const WireFrame& wire) {
  std::string text;
  auto add = [&](const std::string& part) {
    if (!text.empty()) text += ' ';
    text += part;
  };
  if (wire.noise_len > 0) add("noise " + std::to_string(wire.noise_len));
  if (wire.escapes > 0) add("escapes " + std::to_string(wire.escapes));
  if (wire.bad_checksum) add("bad-checksum");
  if (wire.illegal_stored_at >= 0) add("illegal-escape " + std::to_string(wire.illegal_stored_at));
  if (wire.cut_keep > 0) add("cut " + std::to_string(wire.cut_keep));
  return text;
}

}  // namespace sim
