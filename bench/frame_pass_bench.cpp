// One good frame through the whole frame pass on the loaded panel's headless
// model: decode, housekeeping, spectra, both redraws, hex dump and the status
// fields, as the service loop does after a good read.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ui/panel.h"
#include "bench/bench_frames.h"
#include "display/decoder.h"
#include "display/spectra.h"
#include "link/frame.h"
#include "runtime/testing.h"
#include "runtime/trace.h"
#include "runtime/ui.h"

namespace {

// The panel file beside the benchmark program (the build copies it there).
std::string panel_path() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string("gse.uir") : (exe.parent_path() / "gse.uir").string();
}

void hex_dump(const uint8_t* frame, char* out) {
  static const char digits[] = "0123456789ABCDEF";
  int at = 0;
  for (int i = 0; i < FRAME_LEN; ++i) {
    if (i % 32 == 0) out[at++] = '\n';
    out[at++] = digits[frame[i] >> 4];
    out[at++] = digits[frame[i] & 0x0F];
  }
  out[at++] = '\n';
  out[at] = '\0';
}

void frame_pass(benchmark::State& state, const char* trace_path) {
  rt::reset_ui_for_tests();
  std::string error;
  if (trace_path != nullptr && !rt::trace_open(trace_path, &error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  int panel = LoadPanel(0, panel_path().c_str(), 1);
  if (panel <= 0) {
    state.SkipWithError(PanelErrorText());
    return;
  }
  static spectra_t spectra;
  init(spectra);
  spectra_zero256(spectra);
  bench::Random rng(3);
  std::vector<bench::Frame> frames;
  for (uint32_t n = 0; n < 128; ++n) frames.push_back(bench::random_frame(rng, n));
  char hex[420];
  int nacc = 10000;
  size_t i = 0;
  for (auto _ : state) {
    const uint8_t* f = frames[i++ % frames.size()].data();
    frm_process(f, spectra, panel, 1);
    spectra_redraw48(spectra, panel);
    spectra_redraw256(spectra, panel);
    SetCtrlVal(panel, PANEL_COUNT, --nacc);
    hex_dump(f, hex);
    SetCtrlVal(panel, PANEL_HEXDUMP, hex);
    SetCtrlVal(panel, PANEL_SKIPPED, static_cast<int>(nskip_count()));
    SetCtrlVal(panel, PANEL_STATUS, " ");
    if (nacc == 0) nacc = 10000;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  rt::reset_ui_for_tests();
  rt::trace_close();
}

void BM_FramePass_Headless(benchmark::State& s) { frame_pass(s, nullptr); }
// The same with every run-time call traced (to /dev/null): the cost of --trace.
void BM_FramePass_Headless_Trace(benchmark::State& s) { frame_pass(s, "/dev/null"); }

}  // namespace

BENCHMARK(BM_FramePass_Headless)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FramePass_Headless_Trace)->Unit(benchmark::kMicrosecond);
