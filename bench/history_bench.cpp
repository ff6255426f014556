// The trends and the panel's moment over a 24-hour recording: 830 000
// frames at the link's rate, read by the playback reader's rules.
//   - a value put on a plot: a store made for the recording reads it and
//     decodes the value (as the trends view does when first shown), and a
//     value added to a store already made (the file read again);
//   - ten values at once, and the bytes the store then holds;
//   - what a plot draws of ten values, 1920 pixel columns wide, over the day,
//     an hour and a minute (the data side of a zoom or pan);
//   - the panel put back to its moment after a seek, near the start, in the
//     middle and near the end.
// The drawing itself is bench/trends_draw_bench.cpp.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_frames.h"
#include "history/moment.h"
#include "history/trend_store.h"
#include "replay/recording_index.h"
#include "runtime/model.h"
#include "runtime/panel_file.h"

namespace {

constexpr uint32_t FRAMES_24H = 830000;
constexpr double WAIT_S = 600.0;
const std::vector<std::string> TEN = {"HK16", "HK17", "HK08", "HK00", "F12", "F16", "W10", "W192", "ANGLE_K2",
                                      "SKIPPED"};

struct Recording {
  std::string path;
  ~Recording() {
    if (!path.empty()) std::filesystem::remove_all(std::filesystem::path(path).parent_path());
  }
};

// Named as the station names its recordings, so the time axis has a start.
const std::string& day_recording() {
  static Recording made;
  if (!made.path.empty()) return made.path;
  const auto dir = std::filesystem::temp_directory_path() / "gse_history_bench";
  std::filesystem::create_directories(dir);
  made.path = (dir / "42121834.dat").string();
  FILE* out = std::fopen(made.path.c_str(), "wb");
  bench::Random rng(29);
  bench::Bytes chunk;
  for (uint32_t n = 0; n < FRAMES_24H; ++n) {
    bench::append(chunk, bench::random_frame(rng, n & 0x1FFFFF));
    if (chunk.size() >= (1 << 20)) {
      std::fwrite(chunk.data(), 1, chunk.size(), out);
      chunk.clear();
    }
  }
  std::fwrite(chunk.data(), 1, chunk.size(), out);
  std::fclose(out);
  return made.path;
}

rt::TrendSource source() { return {day_recording(), rt::FrameRules::Playback, false}; }

void wait(benchmark::State& state, const rt::TrendStore& store) {
  if (!store.wait_idle(WAIT_S) || store.status().frames != static_cast<long>(FRAMES_24H))
    state.SkipWithError("the store did not read the whole recording");
}

// The view's first drawing: the store made, the recording read, a value
// and the elapsed time (the cursor's) decoded.
void BM_TrendFirstValue24h(benchmark::State& state) {
  source();  // the recording is written before the timing
  for (auto _ : state) {
    rt::TrendStore store(source());
    store.want({"ELAPSED_K1", "HK16"});
    wait(state, store);
  }
}
BENCHMARK(BM_TrendFirstValue24h)->Unit(benchmark::kMillisecond)->UseRealTime();

// A value added to a plot of a store that holds others already.
void BM_TrendAddValue24h(benchmark::State& state) {
  rt::TrendStore store(source());
  store.want({"ELAPSED_K1", "HK16"});
  wait(state, store);
  for (auto _ : state) {
    store.want({"ELAPSED_K1", "HK16", "F12"});
    wait(state, store);
    state.PauseTiming();
    store.want({"ELAPSED_K1", "HK16"});
    state.ResumeTiming();
  }
}
BENCHMARK(BM_TrendAddValue24h)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TrendTenValues24h(benchmark::State& state) {
  source();
  size_t bytes = 0;
  for (auto _ : state) {
    rt::TrendStore store(source());
    std::vector<std::string> keys = TEN;
    keys.push_back("ELAPSED_K1");
    store.want(keys);
    wait(state, store);
    store.read([&](const rt::TrendData& d) { bytes = rt::trend_bytes(d); });
  }
  state.counters["store_MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_TrendTenValues24h)->Unit(benchmark::kMillisecond)->UseRealTime();

// The points of ten values over the last `span` seconds of the day.
void BM_PlotPointsTen1920px(benchmark::State& state) {
  static std::unique_ptr<rt::TrendStore> store;
  if (!store) {
    store = std::make_unique<rt::TrendStore>(source());
    store->want(TEN);
    wait(state, *store);
  }
  const double span = static_cast<double>(state.range(0));
  size_t points = 0;
  for (auto _ : state) {
    store->read([&](const rt::TrendData& d) {
      const rt::AxisX axis{&d.time_s, 0};
      const double x1 = d.time_s.back(), x0 = x1 - span;
      for (const std::string& k : TEN) points += rt::plot_points(d, d.series.at(k), axis, x0, x1, 1920).x.size();
    });
  }
  benchmark::DoNotOptimize(points);
}
BENCHMARK(BM_PlotPointsTen1920px)->Arg(86400)->Arg(3600)->Arg(60)->Unit(benchmark::kMillisecond);

// The panel put back to the frame before `frame` of the day.
void BM_PanelMoment24h(benchmark::State& state) {
  static std::unique_ptr<rt::RecordingIndex> index;
  static std::unique_ptr<rt::PanelModel> model;
  if (!index) {
    index = std::make_unique<rt::RecordingIndex>(day_recording(), rt::FrameRules::Playback);
    index->wait(WAIT_S);
    rt::PanelLayout layout;
    std::string error;
    const std::string panel = rt::find_panel_file("gse.uir");
    if (panel.empty() || !rt::read_panel_file(panel, 1, &layout, &error)) {
      state.SkipWithError("no panel file gse.uir (run from the build's bin folder)");
      return;
    }
    model = std::make_unique<rt::PanelModel>(std::move(layout));
  }
  const long frame = static_cast<long>(state.range(0));
  for (auto _ : state) {
    rt::PanelMoment moment;
    std::string error;
    if (!rt::panel_moment(*model, day_recording(), rt::FrameRules::Playback, *index, frame, &moment, &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    model->restore(moment);
  }
}
BENCHMARK(BM_PanelMoment24h)->Arg(1000)->Arg(415000)->Arg(829999)->Unit(benchmark::kMillisecond);

}  // namespace
