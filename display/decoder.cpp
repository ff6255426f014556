#include "display/decoder.h"

#include <bit>
#include <cstdio>

#include "ui/panel.h"
#include "display/hkpg.h"
#include "link/frame.h"
#include "runtime/ui.h"

namespace {

// Kinds 2 and 3 carry an angle of 2^32 counts a turn. The factor is the
// decimal 8.3819e-08, a little below 360 / 2^32: a full turn shows as
// 359.999863783424 degrees.
constexpr double DEG_PER_COUNT = 8.3819e-08;
constexpr double COUNT_SCALE = 1000.0;  // kind 0 count shown in thousands

// The longest time text is 17 characters ("-24/-20:-31:-23.6" for the most
// negative count); the buffer leaves room to spare.
constexpr int TIME_TEXT_LEN = 32;

constexpr int STRIP_GROUPS = 20;
constexpr int STRIP_VALUES = 4 * STRIP_GROUPS;
constexpr int GROUP_LEN = 6;  // word, word, byte, byte

int word_u16(const uint8_t* p) { return static_cast<uint16_t>(glueshort(p)); }

double float_at(const uint8_t* p) {
  return static_cast<double>(std::bit_cast<float>(static_cast<uint32_t>(gluelong(p))));
}

char time_text[TIME_TEXT_LEN];
uint16_t strip_values[STRIP_VALUES];

}  // namespace

int format_elapsed(int32_t ms, char* out, int size) {
  // Each part truncates toward zero, so a negative count gives negative
  // parts; the seconds keep their fraction and may print as 60.0.
  double t = ms / 1000.0;
  int days = static_cast<int>(t / 86400.0);
  t -= 86400.0 * days;
  int hours = static_cast<int>(t / 3600.0);
  t -= 3600.0 * hours;
  int minutes = static_cast<int>(t / 60.0);
  t -= 60.0 * minutes;
  if (out == nullptr || size < 1) {
    return std::snprintf(nullptr, 0, "%1d/%02d:%02d:%04.1f", days, hours, minutes, t);
  }
  return std::snprintf(out, static_cast<size_t>(size), "%1d/%02d:%02d:%04.1f", days, hours,
                       minutes, t);
}

void frm_process(const uint8_t* frame, spectra_t& spectra, int panel, int acc_on) {
  // 1. Header word: two fields above the top five bits of the counter.
  int header = word_u16(frame + OFF_HEADER);
  SetCtrlVal(panel, PANEL_W2_HI, header >> 11);
  SetCtrlVal(panel, PANEL_W2_MID, (header >> 5) & 0x3F);

  // 2. Counter and the slices it selects.
  uint32_t count = fcount(frame);
  int kind = fkind(frame);
  int sub = fsub(frame);

  // 3. Trailer words.
  SetCtrlVal(panel, PANEL_W192, static_cast<int>(glueshort(frame + OFF_W192)));
  SetCtrlVal(panel, PANEL_W194, static_cast<int>(glueshort(frame + OFF_W194)));
  SetCtrlVal(panel, PANEL_W196, static_cast<int>(glueshort(frame + OFF_W196)));

  // 4. Floats, bits unchanged (NaN and infinities pass through).
  SetCtrlVal(panel, PANEL_F12, float_at(frame + OFF_F12));
  SetCtrlVal(panel, PANEL_F16, float_at(frame + OFF_F16));
  SetCtrlVal(panel, PANEL_F20, float_at(frame + OFF_F20));
  double f24 = float_at(frame + OFF_F24);

  // 5. Held for the kind step.
  int w190 = glueshort(frame + OFF_W190);
  int32_t kind_value = gluelong(frame + OFF_KIND_VALUE);

  // 6. Kind step: float, word, then the kind's own value.
  switch (kind) {
    case 0:
      SetCtrlVal(panel, PANEL_F24_B, f24);
      SetCtrlVal(panel, PANEL_W190_K0, w190);
      SetCtrlVal(panel, PANEL_L6_K0, static_cast<double>(kind_value) / COUNT_SCALE);
      break;
    case 1:
      SetCtrlVal(panel, PANEL_F24_A, f24);
      SetCtrlVal(panel, PANEL_W190_K1, w190);
      format_elapsed(kind_value, time_text, TIME_TEXT_LEN);
      SetCtrlVal(panel, PANEL_TIME, static_cast<const char*>(time_text));
      break;
    case 2:
      SetCtrlVal(panel, PANEL_F24_B, f24);
      SetCtrlVal(panel, PANEL_W190_K2, w190);
      SetCtrlVal(panel, PANEL_L6_K2, static_cast<double>(kind_value) * DEG_PER_COUNT);
      break;
    default:  // 3
      SetCtrlVal(panel, PANEL_F24_A, f24);
      SetCtrlVal(panel, PANEL_W190_K3, w190);
      SetCtrlVal(panel, PANEL_L6_K3, static_cast<double>(kind_value) * DEG_PER_COUNT);
      break;
  }

  // 7. Signed word at offset 10.
  SetCtrlVal(panel, PANEL_W10, static_cast<int>(glueshort(frame + OFF_W10)));

  // 8. Housekeeping word of slot count mod 40.
  hkpg(panel, word_u16(frame + OFF_HK), static_cast<int>(count));

  // 9. Spectrum slices; the service loop redraws them afterwards.
  spectra_accumulate(spectra, frame, sub, kind, acc_on);

  // 10. Fast samples, interleaved for the four traces.
  for (int g = 0; g < STRIP_GROUPS; ++g) {
    const uint8_t* group = frame + OFF_STRIP + GROUP_LEN * g;
    strip_values[4 * g] = static_cast<uint16_t>(word_u16(group));
    strip_values[4 * g + 1] = static_cast<uint16_t>(word_u16(group + 2));
    strip_values[4 * g + 2] = group[4];
    strip_values[4 * g + 3] = group[5];
  }
  PlotStripChart(panel, PANEL_STRIP, strip_values, STRIP_VALUES, 0, 0, TYPE_U16);
}
