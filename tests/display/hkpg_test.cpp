// The housekeeping page: the slot table, its scales, and the shared
// displays of slots 36 to 39.
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "ui/panel.h"
#include "display/hkpg.h"
#include "panel_fixture.h"

namespace {

using HkpgTest = PanelTest;

// Slot order with the identifiers as the panel numbers them, and the value
// a full-scale word (65535) shows in each.
struct SlotRow {
  int id;
  double full_scale;
};
const SlotRow SLOT_TABLE[36] = {
    {61, 10.0},    {60, 10.0},    {26, 10.0},    {59, 10.0},    {58, 10.0},    {57, 10.0},
    {56, -10.0},   {55, -10.0},   {34, 0.1},     {27, 0.1},     {33, 0.1},     {32, 0.1},
    {31, 0.1},     {30, 0.1},     {29, 0.1},     {28, 0.1},     {50, 226.85},  {49, 226.85},
    {48, 226.85},  {47, 226.85},  {46, 226.85},  {45, 226.85},  {44, 226.85},  {43, 226.85},
    {42, 226.85},  {41, 226.85},  {40, 226.85},  {39, 226.85},  {38, 226.85},  {37, 226.85},
    {36, 226.85},  {35, 226.85},  {54, 10.0},    {53, 10.0},    {52, 10.0},    {51, 10.0},
};

TEST_F(HkpgTest, every_scaled_slot_writes_its_own_display_once) {
  std::set<int> used;
  for (int slot = 0; slot < 36; ++slot) {
    clear_calls();
    hkpg(panel, 65535, slot);
    const SlotRow& row = SLOT_TABLE[slot];
    EXPECT_NEAR(dval(row.id), row.full_scale, 1e-12) << "slot " << slot;
    EXPECT_EQ(calls().size(), 1u) << "slot " << slot;
    used.insert(row.id);
  }
  EXPECT_EQ(used.size(), 36u);
  EXPECT_EQ(*used.begin(), 26);
  EXPECT_EQ(*used.rbegin(), 61);
}

TEST_F(HkpgTest, slot_follows_the_counter_taken_unsigned) {
  struct Case {
    int counter, word, ctrl;
    const char* name;
  } cases[] = {
      {0, 6553, PANEL_HK00, "counter 0"},
      {40, 13107, PANEL_HK00, "counter 40"},
      {80, 65535, PANEL_HK00, "counter 80"},
      {2097151, 1000, PANEL_HK31, "last 21-bit counter"},
      {-1, 2000, PANEL_HK15, "counter 0xFFFFFFFF"},
  };
  for (const Case& c : cases) {
    int slot = static_cast<int>(static_cast<unsigned>(c.counter) % 40u);
    hkpg(panel, c.word, c.counter);
    EXPECT_EQ(dval(c.ctrl), hk_scaled(slot, c.word)) << c.name;
  }
}

TEST_F(HkpgTest, slot_36_shows_high_byte_then_low_byte) {
  hkpg(panel, 0x1234, 36);
  EXPECT_EQ(ival(PANEL_HKHI), 18);
  EXPECT_EQ(ival(PANEL_HKLO), 52);
  EXPECT_EQ(calls(), (std::vector<std::string>{"SetCtrlVal PANEL_HKHI", "SetCtrlVal PANEL_HKLO"}));

  hkpg(panel, 0xFF00, 76);  // slot 36 again
  EXPECT_EQ(ival(PANEL_HKHI), 255);
  EXPECT_EQ(ival(PANEL_HKLO), 0);
}

TEST_F(HkpgTest, slots_37_to_39_share_the_raw_display_latest_wins) {
  struct Case {
    int counter, word, shown;
  } cases[] = {{37, 1, 1}, {38, 0xFFFF, 65535}, {39, 0x8000, 32768}, {77, 0x12345, 0x2345}};
  for (const Case& c : cases) {
    hkpg(panel, c.word, c.counter);
    EXPECT_EQ(ival(PANEL_HKRAW), c.shown) << "counter " << c.counter;
  }
  EXPECT_EQ(calls().size(), 4u) << "one write per slot";
}

TEST(HkScaled, scales_match_the_sample_conversions) {
  // One representative slot per scale: 0 (10.0), 6 (-10.0), 8 (0.1), 16 (500.0 - 273.15).
  struct Case {
    int slot, word;
    double shown;
  } cases[] = {
      {0, 0, 0.0},      {0, 32768, 5.0000762951094835},   {0, 65535, 10.0},
      {6, 0, -0.0},     {6, 32768, -5.0000762951094835},  {6, 65535, -10.0},
      {8, 0, 0.0},      {8, 32768, 0.050000762951094835}, {8, 65535, 0.1},
      {16, 0, -273.15}, {16, 32768, -23.146185244525825}, {16, 65535, 226.85},
      {16, -1, 226.85},  // only the low 16 bits count
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(hk_scaled(c.slot, c.word), c.shown, 1e-12)
        << "slot " << c.slot << " word " << c.word;
  }
  EXPECT_TRUE(std::signbit(hk_scaled(6, 0))) << "-10.0 x 0 is -0.0";
}

TEST(HkScaled, slots_without_a_scale_give_the_raw_word) {
  for (int slot : {-1, 36, 37, 39, 40, 1000}) {
    EXPECT_EQ(hk_scaled(slot, 0x1234), 4660.0) << "slot " << slot;
    EXPECT_EQ(hk_scaled(slot, -1), 65535.0) << "slot " << slot;
  }
}

}  // namespace
