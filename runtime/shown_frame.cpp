#include "runtime/shown_frame.h"

#include <string>
#include <string_view>

#include "runtime/model.h"

namespace rt {

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

bool shown_frame(const PanelModel& model, uint8_t frame[SHOWN_FRAME_LEN], int* skipped) {
  const ControlInfo* dump = model.find(std::string_view("PANEL_HEXDUMP"));
  const ControlInfo* skip = model.find(std::string_view("PANEL_SKIPPED"));
  std::string text;
  if (!dump || !skip || !model.get_text(dump->id, &text) || !model.get_int(skip->id, skipped)) return false;
  int n = 0;
  int high = -1;
  for (char c : text) {
    const int d = hex_digit(c);
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
