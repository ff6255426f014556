// The analysis export's rows and files: worked values from frames built by
// field, a fixed column count for every kind, numbers in the C locale, and
// files that appear under their name only when complete.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "export/csv.h"
#include "export/export_job.h"
#include "export/frame_csv.h"
#include "support/files.h"
#include "support/frames.h"
#ifndef _WIN32
#include "support/process.h"
#endif

namespace {

using testing_files::TempDir;
using testing_frames::FrameBuilder;

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> out(1);
  for (char c : line) {
    if (c == ',') out.emplace_back();
    else out.back() += c;
  }
  return out;
}

// The row of `frame` as name -> field.
std::string field(const std::string& row, const std::string& name, bool hex = false) {
  const auto names = split(rt::frame_csv_header(hex));
  const auto fields = split(row);
  EXPECT_EQ(fields.size(), names.size()) << row;
  for (size_t i = 0; i < names.size() && i < fields.size(); ++i)
    if (names[i] == name) return fields[i];
  ADD_FAILURE() << "no column " << name;
  return "";
}

std::string row_of(const FrameBuilder& b, int64_t offset = 400, bool hex = false) {
  std::string row;
  rt::frame_csv_row(row, b.data(), 7, offset, 12, hex);
  return row;
}

TEST(FrameCsv, header_names_are_plain_with_units_in_a_fixed_order) {
  const auto names = split(rt::frame_csv_header(false));
  ASSERT_EQ(static_cast<int>(names.size()), rt::frame_csv_columns(false));
  EXPECT_EQ(names[0], "frame");
  EXPECT_EQ(names[1], "offset_bytes");
  for (const auto& n : names)
    for (char c : n) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || c == '_') << n;
  const auto at = [&](const std::string& n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
  EXPECT_LT(at("hk00_V"), at("hk01_V"));
  EXPECT_LT(at("hk07_V"), at("hk08_A"));
  EXPECT_LT(at("hk15_A"), at("hk16_degC"));
  EXPECT_LT(at("hk31_degC"), at("hk32_V"));
  EXPECT_LT(at("hk35_V"), at("hk36_hi"));
  EXPECT_EQ(split(rt::frame_csv_header(true)).back(), "hexdump");
}

TEST(FrameCsv, worked_values_of_each_kind) {
  struct Case {
    const char* name;
    FrameBuilder frame;
    const char* column;
    const char* value;
  };
  const Case cases[] = {
      {"kind 0 count", FrameBuilder().counter(4).long32(6, 123456), "count_k0_div1000", "123.456"},
      {"kind 1 elapsed", FrameBuilder().counter(1).long32(6, 90061500), "elapsed_k1_s", "90061.5"},
      {"kind 1 negative", FrameBuilder().counter(1).long32(6, -1500), "elapsed_k1_s", "-1.5"},
      {"kind 2 angle 2^30", FrameBuilder().counter(2).long32(6, 1 << 30), "angle_k2_deg", "89.999965945856"},
      {"kind 3 angle -2^31", FrameBuilder().counter(3).long32(6, INT32_MIN), "angle_k3_deg", "-179.999931891712"},
      {"float 1.0", FrameBuilder().float32(12, 1.0f), "f12", "1"},
      {"float -2.5 kind 1", FrameBuilder().counter(1).float32(24, -2.5f), "f24_k1_k3", "-2.5"},
      {"float NaN", FrameBuilder().float32(16, NAN), "f16", "nan"},
      {"float -inf", FrameBuilder().float32(20, -INFINITY), "f20", "-inf"},
      {"header 0x8000", FrameBuilder().word(2, 0x8000), "w2_hi", "16"},
      {"fcount 98304", FrameBuilder().counter(98304), "hk_slot", "24"},
      {"slot 0 half scale", FrameBuilder().counter(40).word(28, 32768), "hk00_V", "5.0000762951094835"},
      {"slot 6 full scale", FrameBuilder().counter(6).word(28, 65535), "hk06_V", "-10"},
      {"slot 8 full scale", FrameBuilder().counter(8).word(28, 65535), "hk08_A", "0.1"},
      {"slot 16 zero", FrameBuilder().counter(16).word(28, 0), "hk16_degC", "-273.15"},
      {"slot 36 high byte", FrameBuilder().counter(36).word(28, 0x1234), "hk36_hi", "18"},
      {"slot 36 low byte", FrameBuilder().counter(36).word(28, 0x1234), "hk36_lo", "52"},
      {"slot 38 raw", FrameBuilder().counter(38).word(28, 65535), "hk38_raw", "65535"},
      {"word 190 kind 2", FrameBuilder().counter(2).word(190, -2), "w190_k2", "-2"},
      {"offset", FrameBuilder(), "offset_bytes", "400"},
      {"skipped", FrameBuilder(), "skipped_bytes", "12"},
      {"status", FrameBuilder(), "status", "ok"},
  };
  for (const Case& c : cases) EXPECT_EQ(field(row_of(c.frame), c.column), c.value) << c.name;
  EXPECT_EQ(field(row_of(FrameBuilder(), rt::NO_OFFSET), "offset_bytes"), "") << "no offset: empty";
}

TEST(FrameCsv, a_value_is_only_in_the_row_of_the_frame_that_carries_it) {
  for (uint32_t count = 0; count < 40; ++count) {
    const std::string row = row_of(FrameBuilder().counter(count).word(28, 1000).long32(6, 5));
    const auto names = split(rt::frame_csv_header(false));
    const auto fields = split(row);
    ASSERT_EQ(fields.size(), names.size()) << "fcount " << count;
    int hk_filled = 0, kind_filled = 0;
    for (size_t i = 0; i < names.size(); ++i) {
      const bool hk = names[i].rfind("hk", 0) == 0 && names[i] != "hk_slot" && names[i] != "hk_word";
      if (hk && !fields[i].empty()) ++hk_filled;
      const bool by_kind = names[i].find("_k") != std::string::npos && names[i] != "hk_slot";
      if (by_kind && !hk && !fields[i].empty()) ++kind_filled;
    }
    EXPECT_EQ(hk_filled, count == 36 ? 2 : 1) << "fcount " << count;
    EXPECT_EQ(kind_filled, 3) << "fcount " << count << ": the kind's value, its float, its word";
  }
}

TEST(FrameCsv, failure_rows_and_hex_keep_the_column_count_on_one_line) {
  std::string row;
  rt::frame_csv_failure_row(row, "checksum_failure", 1234, true);
  EXPECT_EQ(split(row).size(), split(rt::frame_csv_header(true)).size());
  EXPECT_EQ(row.rfind(",1234,checksum_failure,", 0), 0u) << row;
  const std::string hex = field(row_of(FrameBuilder().counter(5), 0, true), "hexdump", true);
  ASSERT_EQ(hex.size(), 400u);
  EXPECT_EQ(hex.substr(0, 12), "EB9000000005");
  EXPECT_EQ(rt::frame_status_token("COM1 err: checksum failure"), "checksum_failure");
  EXPECT_EQ(rt::frame_status_token("COM1 err: illegal ++- sequence"), "illegal_escape");
  EXPECT_EQ(rt::frame_status_token("EOF on input file"), "");
}

TEST(FrameCsv, samples_are_80_rows_a_frame_in_long_format) {
  std::string out;
  rt::samples_csv_rows(out, FrameBuilder().strip(0, 0xFFFF, 1, 0xFF, 0).strip(19, 2, 3, 4, 5).data(), 3);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 80);
  EXPECT_EQ(out.substr(0, 54), "3,word1,0,65535\n3,word2,0,1\n3,byte1,0,255\n3,byte2,0,0\n");
  EXPECT_NE(out.find("3,byte2,19,5\n"), std::string::npos);
}

TEST(FrameCsv, numbers_are_written_the_same_in_any_locale) {
  struct Case {
    double value;
    const char* text;
  };
  for (const Case& c : {Case{0.1, "0.1"}, Case{-273.15, "-273.15"}, Case{1e-30, "1e-30"},
                        Case{-NAN, "nan"}, Case{INFINITY, "inf"}}) {
    std::string out;
    rt::csv_double(out, c.value);
    EXPECT_EQ(out, c.text);
  }
  std::string g;
  rt::csv_general(g, static_cast<double>(0.1f), 9);
  EXPECT_EQ(g, "0.100000001") << "as %.9g";
}

TEST(ExportJob, a_recording_exports_its_frames_and_failures_and_a_cancel_leaves_nothing) {
  TempDir dir;
  std::vector<uint8_t> rec{0x01, 0x02, 0x03};  // 3 bytes before the first frame
  testing_frames::append(rec, FrameBuilder().counter(0).vec());
  testing_frames::append(rec, FrameBuilder().counter(1).word(10, 0x1234).corrupt().vec());
  testing_frames::append(rec, FrameBuilder().counter(2).vec());
  testing_files::write_file(dir.file("rec.dat"), rec);

  rt::ExportOptions opt;
  opt.frames_path = dir.file("out.csv");
  opt.samples_path = dir.file("samples.csv");
  opt.failures = true;
  const rt::ExportResult r = rt::export_recording(dir.file("rec.dat"), opt);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.frames, 2);
  EXPECT_EQ(r.failures, 1);
  const std::string text = testing_files::read_text(dir.file("out.csv"));
  EXPECT_NE(text.find("\n1,3,ok,3,0,"), std::string::npos) << text.substr(0, 600);
  EXPECT_NE(text.find("\n,203,checksum_failure,"), std::string::npos);
  EXPECT_NE(text.find("\n2,403,ok,203,2,"), std::string::npos) << "the failed frame's bytes skipped";
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.csv.part")));

  std::atomic<bool> cancel{true};
  rt::ExportOptions again;
  again.frames_path = dir.file("cancelled.csv");
  const rt::ExportResult c = rt::export_recording(dir.file("rec.dat"), again, &cancel);
  EXPECT_TRUE(c.cancelled);
  EXPECT_FALSE(std::filesystem::exists(dir.file("cancelled.csv")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("cancelled.csv.part")));
}

// The spectra column of one channel in a spectra CSV: "spectrum,channel,...".
std::string spectra_field(const std::string& csv, int spectrum, int channel, int column) {
  const std::string key = "\n" + std::to_string(spectrum) + "," + std::to_string(channel) + ",";
  const size_t at = csv.find(key);
  if (at == std::string::npos) return "";
  return split(csv.substr(at + 1, csv.find('\n', at + 1) - at - 1))[static_cast<size_t>(column)];
}

// A playback run counts the 256 channels for 10 001 frames, then stops; the
// 48 channels go on. Frames 0..10009, one count each in the first channel
// of their blocks: 10 001 = 312 x 32 + 17, so blocks 0..16 got 313 frames
// and blocks 17..31 got 312.
TEST(ExportJob, the_spectra_accumulate_as_a_playback_run_does) {
  TempDir dir;
  std::vector<uint8_t> rec;
  for (uint32_t n = 0; n < 10010; ++n) testing_frames::append(rec, FrameBuilder().counter(n).spec256(0, 1).spec48(0, 1).vec());
  testing_files::write_file(dir.file("rec.dat"), rec);
  rt::ExportOptions opt;
  opt.spectra_path = dir.file("spectra.csv");
  const rt::ExportResult r = rt::export_recording(dir.file("rec.dat"), opt);
  ASSERT_TRUE(r.ok) << r.error;
  const std::string csv = testing_files::read_text(opt.spectra_path);
  constexpr int TOTAL = 4, FRAMES = 5;
  struct Case {
    int spectrum, channel;
    const char* total;
    const char* frames;
  };
  for (const Case c : {Case{256, 0, "313", "313"}, Case{256, 8 * 16, "313", "313"}, Case{256, 8 * 17, "312", "312"},
                       Case{256, 8 * 31, "312", "312"}, Case{48, 0, "2503", "2503"}, Case{48, 36, "2502", "2502"}}) {
    EXPECT_EQ(spectra_field(csv, c.spectrum, c.channel, TOTAL), c.total) << c.spectrum << " channel " << c.channel;
    EXPECT_EQ(spectra_field(csv, c.spectrum, c.channel, FRAMES), c.frames) << c.spectrum << " channel " << c.channel;
  }
}

#ifndef _WIN32
// The last rows go out only at the end: a write that fails then still
// leaves no file by the name asked for.
TEST(CsvFile, a_write_that_fails_at_the_end_leaves_no_file) {
  TempDir dir;
  const std::string path = dir.file("frames.csv");
  rt::CsvFile file;
  ASSERT_TRUE(file.open(path));
  file.row() += std::string(5000, '7');
  file.end_row();
  {
    testing_process::FileSizeLimit limit(1000);
    EXPECT_FALSE(file.commit());
  }
  EXPECT_EQ(file.error(), "cannot write CSV file " + path + ": File too large");
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_FALSE(std::filesystem::exists(path + ".part"));
}
#endif

}  // namespace
