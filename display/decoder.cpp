#include "display/decoder.h"

#include <charconv>
#include <cstring>

#include "ui/panel.h"
#include "display/fields.h"
#include "display/hkpg.h"
#include "link/frame.h"
#include "runtime/ui.h"

namespace {

// The longest time text is 17 characters ("-24/-20:-31:-23.6" for the most
// negative count); the buffer leaves room to spare.
constexpr int TIME_TEXT_LEN = 32;

constexpr int STRIP_VALUES = STRIP_TRACES * STRIP_GROUPS;

char time_text[TIME_TEXT_LEN];
uint16_t strip_values[STRIP_VALUES];

}  // namespace

int format_elapsed(int32_t ms, char* out, int size) {
  // Each part truncates toward zero, so a negative count gives negative
  // parts; the seconds keep their fraction and may print as 60.0.
  double t = elapsed_k1_s(ms);
  int days = static_cast<int>(t / 86400.0);
  t -= 86400.0 * days;
  int hours = static_cast<int>(t / 3600.0);
  t -= 3600.0 * hours;
  int minutes = static_cast<int>(t / 60.0);
  t -= 60.0 * minutes;
  // "%1d/%02d:%02d:%04.1f", written by hand: a kind-1 frame in every four,
  // thousands a second in fast playback. std::to_chars rounds the seconds
  // as printf does.
  char text[TIME_TEXT_LEN];
  char* at = text;
  char* const end = text + sizeof text;
  auto number = [&](int v, bool two_digits) {
    if (two_digits && v >= 0 && v < 10) *at++ = '0';
    at = std::to_chars(at, end, v).ptr;
  };
  number(days, false);
  *at++ = '/';
  number(hours, true);
  *at++ = ':';
  number(minutes, true);
  *at++ = ':';
  char seconds[16];
  const char* seconds_end = std::to_chars(seconds, seconds + sizeof seconds, t, std::chars_format::fixed, 1).ptr;
  for (long pad = 4 - (seconds_end - seconds); pad > 0; --pad) *at++ = '0';  // %04.1f: never below zero here
  for (const char* c = seconds; c != seconds_end; ++c) *at++ = *c;
  const int length = static_cast<int>(at - text);
  if (out != nullptr && size >= 1) {
    const int n = length < size - 1 ? length : size - 1;
    std::memcpy(out, text, static_cast<size_t>(n));
    out[n] = '\0';
  }
  return length;
}

void frm_process(const uint8_t* frame, spectra_t& spectra, int panel, int acc_on) {
  // 1. Header word: two fields above the top five bits of the counter.
  SetCtrlVal(panel, PANEL_W2_HI, header_high(frame));
  SetCtrlVal(panel, PANEL_W2_MID, header_mid(frame));

  // 2. Counter and the slices it selects.
  uint32_t count = fcount(frame);
  int kind = fkind(frame);
  int sub = fsub(frame);

  // 3. Trailer words.
  SetCtrlVal(panel, PANEL_W192, frame_word(frame, OFF_W192));
  SetCtrlVal(panel, PANEL_W194, frame_word(frame, OFF_W194));
  SetCtrlVal(panel, PANEL_W196, frame_word(frame, OFF_W196));

  // 4. Floats, bits unchanged (NaN and infinities pass through).
  SetCtrlVal(panel, PANEL_F12, frame_float(frame + OFF_F12));
  SetCtrlVal(panel, PANEL_F16, frame_float(frame + OFF_F16));
  SetCtrlVal(panel, PANEL_F20, frame_float(frame + OFF_F20));
  double f24 = frame_float(frame + OFF_F24);

  // 5. Held for the kind step.
  int w190 = frame_word(frame, OFF_W190);
  int32_t kind_v = kind_value(frame);

  // 6. Kind step: float, word, then the kind's own value.
  switch (kind) {
    case 0:
      SetCtrlVal(panel, PANEL_F24_B, f24);
      SetCtrlVal(panel, PANEL_W190_K0, w190);
      SetCtrlVal(panel, PANEL_L6_K0, count_k0(kind_v));
      break;
    case 1:
      SetCtrlVal(panel, PANEL_F24_A, f24);
      SetCtrlVal(panel, PANEL_W190_K1, w190);
      format_elapsed(kind_v, time_text, TIME_TEXT_LEN);
      SetCtrlVal(panel, PANEL_TIME, static_cast<const char*>(time_text));
      break;
    case 2:
      SetCtrlVal(panel, PANEL_F24_B, f24);
      SetCtrlVal(panel, PANEL_W190_K2, w190);
      SetCtrlVal(panel, PANEL_L6_K2, angle_deg(kind_v));
      break;
    default:  // 3
      SetCtrlVal(panel, PANEL_F24_A, f24);
      SetCtrlVal(panel, PANEL_W190_K3, w190);
      SetCtrlVal(panel, PANEL_L6_K3, angle_deg(kind_v));
      break;
  }

  // 7. Signed word at offset 10.
  SetCtrlVal(panel, PANEL_W10, frame_word(frame, OFF_W10));

  // 8. Housekeeping word of slot count mod 40.
  hkpg(panel, hk_word(frame), static_cast<int>(count));

  // 9. Spectrum slices; the service loop redraws them afterwards.
  spectra_accumulate(spectra, frame, sub, kind, acc_on);

  // 10. Fast samples, interleaved for the four traces.
  for (int g = 0; g < STRIP_GROUPS; ++g) strip_group(frame, g, strip_values + STRIP_TRACES * g);
  PlotStripChart(panel, PANEL_STRIP, strip_values, STRIP_VALUES, 0, 0, TYPE_U16);
}
