// Every value the station decodes from a frame, as one catalogue: the 40
// housekeeping slots, the kind-dependent values, the floats and words, the
// header fields and the frame counter, and the link's own figures. Each
// entry says which frames carry it, which panel display shows it, its
// column in the --csv file, and how it is decoded: with the system's own
// conversions (display/fields.h, display/hkpg.h), in the system's units
// (a display may show it scaled: 0.1 A as 100 mA). Qt-free.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rt {

// Which frames carry a value, by their counter.
enum class Carrier {
  Every,    // every frame
  Kind,     // frames of kind `arg` (counter mod 4)
  Kinds02,  // kinds 0 and 2
  Kinds13,  // kinds 1 and 3
  Slot,     // frames of housekeeping slot `arg` (counter mod 40)
};

// How a value comes out of a frame.
enum class Field {
  HkScaled,   // slot `arg` (0..35): display/'s conversion of the word at 28
  HkHigh,     // slot 36: the word's high byte
  HkLow,      // slot 36: its low byte
  HkRaw,      // slots 37..39: the word unchanged
  HeaderHigh, // bits 15..11 of the word at 2
  HeaderMid,  // bits 10..5 of the word at 2
  Counter,    // the 21-bit frame counter
  CountK0,    // kind 0: the signed value at 6 / 1000
  ElapsedK1,  // kind 1: the value at 6, milliseconds, in seconds
  AngleK23,   // kinds 2, 3: the value at 6 in degrees (the panel's factor)
  Word,       // the signed word at `arg`
  Float,      // the single-precision float at `arg`
  // The link's own figures: not in the frame, but in where and when it came.
  Skipped,    // the discarded-byte count once this frame was taken
  FramesPerS, // good frames a second, over the LINK_RATE_SPAN_S before it
  BytesPerS,  // bytes of the recording a second, over the same span
};

enum class ValueGroup { Housekeeping, Kind, FloatsWords, Header, Link };

struct ValueInfo {
  std::string key;      // stable name: "HK16", "F12", "FCOUNT", "FPS"
  std::string control;  // the display that shows it ("PANEL_HK16"), "" if none
  std::string csv;      // its --csv column ("hk16_degC")
  std::string unit;     // of the decoded value ("V", "A", "degC", "s", "deg", "")
  std::string what;     // a few words for the operator
  ValueGroup group = ValueGroup::Housekeeping;
  Carrier carrier = Carrier::Every;
  Field field = Field::Word;
  int arg = 0;  // the kind, slot or offset the carrier and field name
};

// The whole catalogue, in a fixed order (housekeeping first).
const std::vector<ValueInfo>& value_catalogue();
// By key (case as given), nullptr when unknown.
const ValueInfo* find_value(std::string_view key);
// The values a panel display shows: one, or the three raw slots for
// PANEL_HKRAW; none for a display that shows no frame value.
std::vector<const ValueInfo*> values_of_control(std::string_view control);

// True when a frame with counter `fcount` carries `v`.
bool carries(const ValueInfo& v, uint32_t fcount);
// The value in the frame (which must carry it; a link figure gives NaN: it
// is not in the frame).
double decode_value(const ValueInfo& v, const uint8_t* frame);
// True for the link's own figures.
bool is_link_figure(const ValueInfo& v);

// The good-frame and byte rates of the link figures look this far back.
constexpr double LINK_RATE_SPAN_S = 10.0;

}  // namespace rt
