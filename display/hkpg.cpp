#include "display/hkpg.h"

#include <cstdint>

#include "ui/panel.h"
#include "display/fields.h"
#include "runtime/ui.h"

namespace {

constexpr unsigned SLOTS = HK_SLOTS;
constexpr int SCALED_SLOTS = HK_SCALED_SLOTS;
constexpr int SLOT_BYTES = HK_BYTES_SLOT;  // high byte and low byte on two displays

// Full scale of each converter; KELVIN slots read 0..500 K shown in Celsius.
constexpr double VOLTS = 10.0;
constexpr double NEG_VOLTS = -10.0;
constexpr double TENTH = 0.1;
constexpr double KELVIN = 500.0;
constexpr double CELSIUS_ZERO = 273.15;

struct Slot {
  int ctrl;
  double scale;
  double offset;  // subtracted after scaling
};

// The unit of a scaled slot's value: volts, amperes (0.1 full scale), or
// degrees Celsius.
const char* unit_of(const Slot& s) {
  if (s.scale == TENTH) return "A";
  if (s.offset == CELSIUS_ZERO) return "degC";
  return "V";
}

// Slot order; the control identifiers do not follow it.
constexpr Slot TABLE[SCALED_SLOTS] = {
    {PANEL_HK00, VOLTS, 0.0},         {PANEL_HK01, VOLTS, 0.0},
    {PANEL_HK02, VOLTS, 0.0},         {PANEL_HK03, VOLTS, 0.0},
    {PANEL_HK04, VOLTS, 0.0},         {PANEL_HK05, VOLTS, 0.0},
    {PANEL_HK06, NEG_VOLTS, 0.0},     {PANEL_HK07, NEG_VOLTS, 0.0},
    {PANEL_HK08, TENTH, 0.0},         {PANEL_HK09, TENTH, 0.0},
    {PANEL_HK10, TENTH, 0.0},         {PANEL_HK11, TENTH, 0.0},
    {PANEL_HK12, TENTH, 0.0},         {PANEL_HK13, TENTH, 0.0},
    {PANEL_HK14, TENTH, 0.0},         {PANEL_HK15, TENTH, 0.0},
    {PANEL_HK16, KELVIN, CELSIUS_ZERO}, {PANEL_HK17, KELVIN, CELSIUS_ZERO},
    {PANEL_HK18, KELVIN, CELSIUS_ZERO}, {PANEL_HK19, KELVIN, CELSIUS_ZERO},
    {PANEL_HK20, KELVIN, CELSIUS_ZERO}, {PANEL_HK21, KELVIN, CELSIUS_ZERO},
    {PANEL_HK22, KELVIN, CELSIUS_ZERO}, {PANEL_HK23, KELVIN, CELSIUS_ZERO},
    {PANEL_HK24, KELVIN, CELSIUS_ZERO}, {PANEL_HK25, KELVIN, CELSIUS_ZERO},
    {PANEL_HK26, KELVIN, CELSIUS_ZERO}, {PANEL_HK27, KELVIN, CELSIUS_ZERO},
    {PANEL_HK28, KELVIN, CELSIUS_ZERO}, {PANEL_HK29, KELVIN, CELSIUS_ZERO},
    {PANEL_HK30, KELVIN, CELSIUS_ZERO}, {PANEL_HK31, KELVIN, CELSIUS_ZERO},
    {PANEL_HK32, VOLTS, 0.0},         {PANEL_HK33, VOLTS, 0.0},
    {PANEL_HK34, VOLTS, 0.0},         {PANEL_HK35, VOLTS, 0.0},
};

}  // namespace

double hk_scaled(int slot, int word) {
  unsigned r = static_cast<unsigned>(word) & 0xFFFFu;
  if (slot < 0 || slot >= SCALED_SLOTS) return static_cast<double>(r);
  const Slot& s = TABLE[slot];
  // Multiply, divide, then subtract: the order fixes the last bit.
  return s.scale * r / 65535.0 - s.offset;
}

int hk_control(int slot) { return slot >= 0 && slot < SCALED_SLOTS ? TABLE[slot].ctrl : 0; }

const char* hk_unit(int slot) { return slot >= 0 && slot < SCALED_SLOTS ? unit_of(TABLE[slot]) : ""; }

void hkpg(int panel, int word, int counter) {
  unsigned r = static_cast<unsigned>(word) & 0xFFFFu;
  int slot = static_cast<int>(static_cast<uint32_t>(counter) % SLOTS);
  if (slot < SCALED_SLOTS) {
    SetCtrlVal(panel, TABLE[slot].ctrl, hk_scaled(slot, word));
  } else if (slot == SLOT_BYTES) {
    SetCtrlVal(panel, PANEL_HKHI, hk_high_byte(static_cast<int>(r)));
    SetCtrlVal(panel, PANEL_HKLO, hk_low_byte(static_cast<int>(r)));
  } else {
    SetCtrlVal(panel, PANEL_HKRAW, static_cast<int>(r));
  }
}
