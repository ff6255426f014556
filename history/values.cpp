#include "history/values.h"

#include <cmath>
#include <limits>

#include "display/fields.h"
#include "display/hkpg.h"
#include "link/frame.h"

namespace rt {

namespace {

std::string two_digits(int n) { return std::string(1, static_cast<char>('0' + n / 10)) + static_cast<char>('0' + n % 10); }

const char* hk_what(int slot) {
  if (slot < 6 || slot >= 32) return "housekeeping voltage";
  if (slot < 8) return "housekeeping voltage (negative rail)";
  if (slot < 16) return "housekeeping current";
  return "housekeeping temperature";
}

std::vector<ValueInfo> build() {
  std::vector<ValueInfo> out;
  auto add = [&out](std::string key, std::string control, std::string csv, std::string unit, std::string what,
                    ValueGroup group, Carrier carrier, Field field, int arg) {
    out.push_back({std::move(key), std::move(control), std::move(csv), std::move(unit), std::move(what), group,
                   carrier, field, arg});
  };
  for (int slot = 0; slot < HK_SCALED_SLOTS; ++slot) {
    const std::string n = two_digits(slot);
    add("HK" + n, "PANEL_HK" + n, "hk" + n + "_" + hk_unit(slot), hk_unit(slot),
        std::string(hk_what(slot)) + ", slot " + std::to_string(slot), ValueGroup::Housekeeping, Carrier::Slot,
        Field::HkScaled, slot);
  }
  add("HK36_HI", "PANEL_HKHI", "hk36_hi", "", "housekeeping slot 36, high byte", ValueGroup::Housekeeping,
      Carrier::Slot, Field::HkHigh, HK_BYTES_SLOT);
  add("HK36_LO", "PANEL_HKLO", "hk36_lo", "", "housekeeping slot 36, low byte", ValueGroup::Housekeeping,
      Carrier::Slot, Field::HkLow, HK_BYTES_SLOT);
  for (int slot = HK_BYTES_SLOT + 1; slot < HK_SLOTS; ++slot)
    add("HK" + two_digits(slot), "PANEL_HKRAW", "hk" + two_digits(slot) + "_raw", "",
        "housekeeping slot " + std::to_string(slot) + ", raw word", ValueGroup::Housekeeping, Carrier::Slot,
        Field::HkRaw, slot);
  add("COUNT_K0", "PANEL_L6_K0", "count_k0_div1000", "", "kind 0: the count / 1000", ValueGroup::Kind,
      Carrier::Kind, Field::CountK0, 0);
  add("ELAPSED_K1", "PANEL_TIME", "elapsed_k1_s", "s", "kind 1: the instrument's elapsed time", ValueGroup::Kind,
      Carrier::Kind, Field::ElapsedK1, 1);
  add("ANGLE_K2", "PANEL_L6_K2", "angle_k2_deg", "deg", "kind 2: angle", ValueGroup::Kind, Carrier::Kind,
      Field::AngleK23, 2);
  add("ANGLE_K3", "PANEL_L6_K3", "angle_k3_deg", "deg", "kind 3: angle", ValueGroup::Kind, Carrier::Kind,
      Field::AngleK23, 3);
  for (int k = 0; k < 4; ++k) {
    const std::string n = std::to_string(k);
    add(std::string("W190_K") + n, std::string("PANEL_W190_K") + n, std::string("w190_k") + n, "",
        std::string("kind ") + n + ": signed word at offset 190", ValueGroup::Kind, Carrier::Kind, Field::Word, k);
  }
  add("F24_B", "PANEL_F24_B", "f24_k0_k2", "", "kinds 0 and 2: float at offset 24", ValueGroup::Kind,
      Carrier::Kinds02, Field::Float, OFF_F24);
  add("F24_A", "PANEL_F24_A", "f24_k1_k3", "", "kinds 1 and 3: float at offset 24", ValueGroup::Kind,
      Carrier::Kinds13, Field::Float, OFF_F24);
  for (int off : {OFF_F12, OFF_F16, OFF_F20})
    add("F" + std::to_string(off), "PANEL_F" + std::to_string(off), "f" + std::to_string(off), "",
        "float at offset " + std::to_string(off), ValueGroup::FloatsWords, Carrier::Every, Field::Float, off);
  for (int off : {OFF_W10, OFF_W192, OFF_W194, OFF_W196})
    add("W" + std::to_string(off), "PANEL_W" + std::to_string(off), "w" + std::to_string(off), "",
        "signed word at offset " + std::to_string(off), ValueGroup::FloatsWords, Carrier::Every, Field::Word, off);
  add("W2_HI", "PANEL_W2_HI", "w2_hi", "", "header field, bits 15..11 of word 2", ValueGroup::Header,
      Carrier::Every, Field::HeaderHigh, 0);
  add("W2_MID", "PANEL_W2_MID", "w2_mid", "", "header field, bits 10..5 of word 2", ValueGroup::Header,
      Carrier::Every, Field::HeaderMid, 0);
  add("FCOUNT", "", "fcount", "", "frame counter", ValueGroup::Header, Carrier::Every, Field::Counter, 0);
  add("SKIPPED", "PANEL_SKIPPED", "skipped_bytes", "bytes", "link: input bytes discarded so far", ValueGroup::Link,
      Carrier::Every, Field::Skipped, 0);
  add("FPS", "", "good_frames_per_s", "frames/s", "link: good frames a second", ValueGroup::Link, Carrier::Every,
      Field::FramesPerS, 0);
  add("BPS", "", "bytes_per_s", "bytes/s", "link: bytes a second", ValueGroup::Link, Carrier::Every,
      Field::BytesPerS, 0);
  return out;
}

}  // namespace

const std::vector<ValueInfo>& value_catalogue() {
  static const std::vector<ValueInfo> catalogue = build();
  return catalogue;
}

const ValueInfo* find_value(std::string_view key) {
  for (const ValueInfo& v : value_catalogue())
    if (v.key == key) return &v;
  return nullptr;
}

std::vector<const ValueInfo*> values_of_control(std::string_view control) {
  std::vector<const ValueInfo*> out;
  if (control.empty()) return out;
  for (const ValueInfo& v : value_catalogue())
    if (v.control == control) out.push_back(&v);
  return out;
}

bool carries(const ValueInfo& v, uint32_t fcount) {
  switch (v.carrier) {
    case Carrier::Every: return true;
    case Carrier::Kind: return static_cast<int>(fcount % 4) == v.arg;
    case Carrier::Kinds02: return fcount % 2 == 0;
    case Carrier::Kinds13: return fcount % 2 == 1;
    case Carrier::Slot: return static_cast<int>(fcount % HK_SLOTS) == v.arg;
  }
  return false;
}

bool is_link_figure(const ValueInfo& v) {
  return v.field == Field::Skipped || v.field == Field::FramesPerS || v.field == Field::BytesPerS;
}

double decode_value(const ValueInfo& v, const uint8_t* frame) {
  switch (v.field) {
    case Field::HkScaled: return hk_scaled(v.arg, hk_word(frame));
    case Field::HkHigh: return hk_high_byte(hk_word(frame));
    case Field::HkLow: return hk_low_byte(hk_word(frame));
    case Field::HkRaw: return hk_word(frame);
    case Field::HeaderHigh: return header_high(frame);
    case Field::HeaderMid: return header_mid(frame);
    case Field::Counter: return fcount(frame);
    case Field::CountK0: return count_k0(kind_value(frame));
    case Field::ElapsedK1: return elapsed_k1_s(kind_value(frame));
    case Field::AngleK23: return angle_deg(kind_value(frame));
    case Field::Word:
      // The W190 entries name their kind in `arg`: the word is at 190.
      return frame_word(frame, v.carrier == Carrier::Kind ? OFF_W190 : v.arg);
    case Field::Float: return frame_float(frame + v.arg);
    case Field::Skipped:
    case Field::FramesPerS:
    case Field::BytesPerS: break;
  }
  return std::numeric_limits<double>::quiet_NaN();
}

}  // namespace rt
