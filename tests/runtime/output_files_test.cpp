// The files the run-time writes (trace, CSV export, saved spectra) hold the
// same bytes on every platform: lines end in LF alone, and a line break
// inside a CSV text value stays the one byte it was (no text-mode "\r\n").
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "ui/panel.h"
#include "export/panel_csv.h"
#include "runtime/testing.h"
#include "runtime/trace.h"
#include "runtime/transport.h"
#include "runtime/ui.h"
#include "support/files.h"

namespace {

void write_two_rows(void*, FILE* out) { std::fputs("a,1\nb,2\n", out); }

TEST(OutputFiles, are_written_byte_for_byte_with_lf_line_ends) {
  struct Case {
    const char* name;
    std::function<void(const std::string& path)> write;
    std::string expected_part;  // must appear as is
  } cases[] = {
      {"trace",
       [](const std::string& path) {
         std::string error;
         ASSERT_TRUE(rt::trace_open(path, &error)) << error;
         ASSERT_GT(LoadPanel(0, "gse.uir", PANEL), 0) << PanelErrorText();
         Delay(0.0);
         rt::trace_close();
       },
       "{\"op\":\"LoadPanel\",\"file\":\"gse.uir\",\"resource\":1}\n{\"op\":\"Delay\",\"seconds\":0.0}\n"},
      {"csv export",
       [](const std::string& path) {
         std::string error;
         ASSERT_TRUE(rt::panel_csv_open(path, &error)) << error;
         const int panel = LoadPanel(0, "gse.uir", PANEL);
         ASSERT_GT(panel, 0) << PanelErrorText();
         SetCtrlVal(panel, PANEL_HEXDUMP, "EB 90\n00 01");
         SetCtrlVal(panel, PANEL_STATUS, " ");  // a good frame: one row
         rt::panel_csv_close();
       },
       ",\"EB 90\n00 01\","},
      {"saved spectra",
       [](const std::string& path) {
         rt::transport_set_spectra_writer(write_two_rows, nullptr);
         rt::transport_request_spectra(path);
         ASSERT_TRUE(rt::transport_run_spectra_request());
       },
       "# vst_gse spectra\n# source: live, port "},
  };
  for (const auto& c : cases) {
    rt::reset_ui_for_tests();
    rt::set_speed(0);
    testing_files::TempDir dir;
    const std::string path = dir.file("out.txt");
    c.write(path);
    const std::string bytes = testing_files::read_text(path);
    EXPECT_NE(bytes.find(c.expected_part), std::string::npos) << c.name << ": " << bytes;
    EXPECT_EQ(bytes.find('\r'), std::string::npos) << c.name << ": a carriage return in " << bytes;
    EXPECT_EQ(bytes.empty() ? '?' : bytes.back(), '\n') << c.name << ": ends with a whole line";
  }
  rt::reset_ui_for_tests();
}

}  // namespace
