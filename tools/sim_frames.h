// The instrument simulator's frames: what the instrument would put in each
// frame, the link's "++-" escape, and the faults a rehearsal can inject.
// Every function here is pure: frame n of a seed is always the same bytes,
// whatever was generated before it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "link/frame.h"

namespace sim {

using Frame = std::array<uint8_t, FRAME_LEN>;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t COUNT_MASK = 0x1FFFFF;  // fcount is 21 bits and wraps
constexpr int HK_SLOTS = 40;
constexpr int STRIP_GROUPS = 20;

// The frame clock: the instrument's elapsed time at frame `index` is
// index * period_ms. A link at `rate_bytes_s` carries one 200-byte frame per
// 200 / rate seconds; at rate 0 the clock runs at the playback pace of
// 10 frames per second.
double frame_period_ms(double rate_bytes_s);

// Frame `index` (0 = the first frame sent) of the run started with `seed`:
//   - fcount = (first_count + index) mod 2^21, header fields at offset 2;
//   - offset 6 by kind: 0 a cumulative event count, 1 the elapsed time in
//     milliseconds, 2 and 3 two slowly turning angles (2^32 per turn);
//   - plausible floats and signed words, the housekeeping word of slot
//     fcount mod 40, four strip-chart waveforms, both spectrum slices as
//     Poisson counts from a smooth spectral shape;
//   - checksum sealed. The last byte is never 0xEB, so a receiver hunting over
//     a broken frame always finds the sync word of the frame after it.
Frame make_frame(uint64_t seed, uint64_t index, uint32_t first_count, double period_ms);

// The housekeeping word the instrument sends in `slot` (0..39) at
// `elapsed_s`. `jitter` in [-1, 1] adds the reading's noise.
uint16_t housekeeping_word(int slot, double elapsed_s, double jitter);

// A housekeeping slot held at a value for a stretch of frames (a rehearsal
// of values crossing their limits): in the frames with index first..last
// (0-based, in sending order), the frame that carries `slot` carries the
// word that reads back as `value` in the unit the panel shows: volts
// (slots 0-7, 32-35), milliamperes (8-15), degrees Celsius (16-31), the raw
// word (36-39). The nearest word, clamped to 0..65535.
struct HkShape {
  int slot = 0;
  double value = 0.0;
  uint64_t first = 0, last = 0;
};
uint16_t housekeeping_word_for(int slot, double value);
// Applies the shapes that cover frame `index` to `frame` (resealed).
void shape_housekeeping(Frame& frame, const std::vector<HkShape>& shapes, uint64_t index);

// Expected counts per frame of a spectrum channel centred at `x` scale units
// and `width` units wide, in a spectrum of `blocks` slices (4 or 32), at
// `elapsed_s`: a rolled-over power law plus a line near 511.
double expected_counts(double x, int width, int blocks, double elapsed_s);

// ---- The link's escape -------------------------------------------------

// The frame as the link carries it: sync bytes plain, bytes 2..199 with the
// "++-" escape. The encoder follows the receiver's states: after "++" (and
// not right after an escape or a third '+'), a stored '-' must go out as
// "-1", since "++-" on the link opens an escape. Everything else is sent as
// it is; a third '+' is plain data to the receiver.
Bytes escape_for_link(const Frame& frame);

// ---- Faults ------------------------------------------------------------

// Which frames one fault hits: each frame with probability `rate`, or the
// frames whose index (0-based, in sending order) is listed.
struct FaultRule {
  double rate = 0.0;
  std::vector<uint64_t> frames;
  bool empty() const { return rate <= 0.0 && frames.empty(); }
};

struct FaultOptions {
  FaultRule noise;           // a burst of stray bytes before the frame
  FaultRule bad_checksum;    // checksum word wrong
  FaultRule illegal_escape;  // "++-" followed by a byte that is neither '-' nor '1'
  FaultRule cut;             // the frame stops part-way; the next follows at once
  // Not a fault: content that the link must escape ("++-" in four places of
  // the fast samples), so a link carries the frame longer than 200 bytes.
  FaultRule escapes;
};

// How many "++-" an escape-heavy frame carries.
constexpr int ESCAPES_PER_FRAME = 4;

// The faults chosen for one frame (before they are applied).
struct FrameFaults {
  Bytes noise;             // stray bytes, never 0xEB: they never hide a sync word
  bool bad_checksum = false;
  int illegal_at = -1;     // stored offset (2..197) to put "++-?" before, or -1
  int cut_keep = 0;        // frame bytes sent before the cut (3..199), or 0
  bool escapes = false;    // the content holds "++-" (ESCAPES_PER_FRAME times)
  bool any() const { return !noise.empty() || bad_checksum || illegal_at >= 0 || cut_keep > 0 || escapes; }
};

// The faults for frame `index`: a pure function of the options, seed and
// index, drawn from a generator of their own so faults never change what
// the frames hold.
FrameFaults choose_faults(const FaultOptions& options, uint64_t seed, uint64_t index);

// One frame's bytes as written, and what actually went into them.
struct WireFrame {
  Bytes bytes;                 // noise, then the frame as sent
  int noise_len = 0;
  int frame_len = 0;           // bytes of the frame itself, after any cut
  bool bad_checksum = false;
  int illegal_stored_at = -1;  // bytes the receiver has stored when the bad escape comes
  int cut_keep = 0;            // frame bytes sent before the cut, or 0
  int escapes = 0;             // "++-" in the content (each sent as "++-1" on a link)
  // A frame that no reader can accept.
  bool broken() const { return bad_checksum || illegal_stored_at >= 0 || cut_keep > 0; }
};

// Applies `faults` to `frame` (escape-heavy content first, resealed). On a link (`link` true) the frame is escaped;
// to a file it is written plain. The illegal escape goes in where the
// receiver is in its plain-data state (at or after illegal_at), so it is
// always taken as one. A cut never ends on 0xEB.
WireFrame make_wire(const Frame& frame, const FrameFaults& faults, bool link);

// "noise 12 escapes 4 bad-checksum illegal-escape 57 cut 88", or "" for a
// clean frame.
std::string describe_faults(const WireFrame& wire);

}  // namespace sim
