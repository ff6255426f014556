#include "runtime/shown_frame.h"

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/model.h"

namespace rt {

namespace {

// The value of each hex digit, -1 for any other character (a lookup: the
// dump is read at every frame a publisher or a record follows).
struct HexDigits {
  int8_t value[256];
  constexpr HexDigits() : value() {
    for (int c = 0; c < 256; ++c)
      value[c] = static_cast<int8_t>(c >= '0' && c <= '9'   ? c - '0'
                                     : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                     : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                            : -1);
  }
};
constexpr HexDigits HEX;

int hex_digit(char c) { return HEX.value[static_cast<unsigned char>(c)]; }

}  // namespace

bool shown_frame(const PanelModel& model, uint8_t frame[SHOWN_FRAME_LEN], int* skipped) {
  const ControlInfo* dump = model.find(std::string_view("PANEL_HEXDUMP"));
  const ControlInfo* skip = model.find(std::string_view("PANEL_SKIPPED"));
  // The dump's text goes into the room of the last one this thread read.
  thread_local std::string text;
  if (!dump || !skip || !model.get_text(dump->id, &text) || !model.get_int(skip->id, skipped)) return false;
  int n = 0;
  int high = -1;
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    // The usual case: a byte's two digits side by side (the dump's rows).
    while (high < 0 && n < SHOWN_FRAME_LEN && end - p >= 2) {
      const int pair_high = hex_digit(p[0]), pair_low = hex_digit(p[1]);
      if ((pair_high | pair_low) < 0) break;
      frame[n++] = static_cast<uint8_t>(pair_high << 4 | pair_low);
      p += 2;
    }
    if (p == end) break;
    const int d = hex_digit(*p++);
    if (d < 0) continue;  // the dump's line breaks
    if (high < 0) {
      high = d;
    } else {
      if (n == SHOWN_FRAME_LEN) return false;
      frame[n++] = static_cast<uint8_t>(high << 4 | d);
      high = -1;
    }
  }
  return n == SHOWN_FRAME_LEN && high < 0;
}

}  // namespace rt
