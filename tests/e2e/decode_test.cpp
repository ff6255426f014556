// The values the program shows for a simulated recording, checked against
// values worked out here from each frame's own bytes (its hex dump).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/process.h"
#include "support/trace_reader.h"

namespace {

using testing_trace::Line;

std::vector<uint8_t> bytes_of_dump(const std::string& dump) {
  std::vector<uint8_t> out;
  std::string hex;
  for (char c : dump)
    if (c != '\n') hex += c;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

int s16(const std::vector<uint8_t>& f, int at) {
  int v = f[at] * 256 + f[at + 1];
  return v >= 32768 ? v - 65536 : v;
}
unsigned u16(const std::vector<uint8_t>& f, int at) { return f[at] * 256u + f[at + 1]; }
int32_t s32(const std::vector<uint8_t>& f, int at) {
  uint32_t u = (uint32_t{f[at]} << 24) | (uint32_t{f[at + 1]} << 16) | (uint32_t{f[at + 2]} << 8) | f[at + 3];
  int32_t v;
  std::memcpy(&v, &u, 4);
  return v;
}
double f32(const std::vector<uint8_t>& f, int at) {
  int32_t bits = s32(f, at);
  float v;
  std::memcpy(&v, &bits, 4);
  return v;
}

std::string elapsed_text(int32_t ms) {
  double t = ms / 1000.0;
  int d = static_cast<int>(t / 86400.0);
  t -= 86400.0 * d;
  int h = static_cast<int>(t / 3600.0);
  t -= 3600.0 * h;
  int m = static_cast<int>(t / 60.0);
  t -= 60.0 * m;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%1d/%02d:%02d:%04.1f", d, h, m, t);
  return buf;
}

// What one frame must show: control name -> value text as traced.
std::map<std::string, std::string> expected_for(const std::vector<uint8_t>& f) {
  std::map<std::string, std::string> want;
  auto num = [](double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return std::string(buf);
  };
  unsigned header = u16(f, 2);
  want["PANEL_W2_HI"] = std::to_string(header >> 11);
  want["PANEL_W2_MID"] = std::to_string((header >> 5) & 0x3F);
  want["PANEL_W192"] = std::to_string(s16(f, 192));
  want["PANEL_W194"] = std::to_string(s16(f, 194));
  want["PANEL_W196"] = std::to_string(s16(f, 196));
  want["PANEL_F12"] = num(f32(f, 12));
  want["PANEL_F16"] = num(f32(f, 16));
  want["PANEL_F20"] = num(f32(f, 20));
  want["PANEL_W10"] = std::to_string(s16(f, 10));
  int kind = f[5] & 3;
  int32_t v6 = s32(f, 6);
  want[kind == 0 || kind == 2 ? "PANEL_F24_B" : "PANEL_F24_A"] = num(f32(f, 24));
  want["PANEL_W190_K" + std::to_string(kind)] = std::to_string(s16(f, 190));
  if (kind == 0) want["PANEL_L6_K0"] = num(v6 / 1000.0);
  if (kind == 1) want["PANEL_TIME"] = elapsed_text(v6);
  if (kind == 2) want["PANEL_L6_K2"] = num(v6 * 8.3819e-08);
  if (kind == 3) want["PANEL_L6_K3"] = num(v6 * 8.3819e-08);
  unsigned count = (f[3] & 0x1Fu) * 65536u + u16(f, 4);
  unsigned slot = count % 40, r = u16(f, 28);
  char name[16];
  std::snprintf(name, sizeof name, "PANEL_HK%02u", slot);
  if (slot < 6 || (slot >= 32 && slot < 36)) want[name] = num(10.0 * r / 65535.0);
  else if (slot < 8) want[name] = num(-10.0 * r / 65535.0);
  else if (slot < 16) want[name] = num(0.1 * r / 65535.0);
  else if (slot < 32) want[name] = num(500.0 * r / 65535.0 - 273.15);
  else if (slot == 36) {
    want["PANEL_HKHI"] = std::to_string(r >> 8);
    want["PANEL_HKLO"] = std::to_string(r & 0xFF);
  } else {
    want["PANEL_HKRAW"] = std::to_string(r);
  }
  return want;
}

std::string traced_number(const Line& l) {
  // Both sides as %.17g, so trace digits and expectations compare as text.
  if (l.field("type") == "text") return l.field("value");
  if (l.field("type") == "int") return l.field("value");
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", l.number_field("value"));
  return buf;
}

TEST(Decode, every_shown_value_follows_from_the_frame_bytes) {
  testing_files::TempDir dir;
  auto sim = testing_process::run(testing_process::gse_sim(),
                                  {"--out", dir.file("rec.dat"), "--frames", "400", "--seed", "5", "--quiet"},
                                  dir.path());
  ASSERT_EQ(sim.exit_code, 0) << sim.err;
  auto r = testing_process::run(testing_process::vst_gse(),
                                {"--headless", "--speed", "0", "--trace", "-", "rec.dat"}, dir.path(), 120.0,
                                {"QT_QPA_PLATFORM=offscreen"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  auto trace = testing_trace::parse(r.out);

  // Each frame pass's writes come before its hex dump.
  std::map<std::string, std::string> shown;
  std::vector<double> strip;
  int frames = 0;
  for (const Line& l : trace) {
    if (l.op == "PlotStripChart") strip = l.numbers("values");
    if (l.op != "SetCtrlVal") continue;
    if (l.ctrl != "PANEL_HEXDUMP") {
      shown[l.ctrl] = traced_number(l);
      continue;
    }
    auto frame = bytes_of_dump(l.field("value"));
    ASSERT_EQ(frame.size(), 200u);
    for (const auto& [name, value] : expected_for(frame))
      EXPECT_EQ(shown[name], value) << name << " of frame " << frames;
    ASSERT_EQ(strip.size(), 80u);
    for (int g = 0; g < 20; ++g) {
      int at = 30 + 6 * g;
      std::vector<double> want = {double(u16(frame, at)), double(u16(frame, at + 2)),
                                  double(frame[at + 4]), double(frame[at + 5])};
      for (int k = 0; k < 4; ++k) EXPECT_EQ(strip[4 * g + k], want[k]) << "strip group " << g;
    }
    shown.clear();
    ++frames;
  }
  EXPECT_EQ(frames, 400);
}

}  // namespace
