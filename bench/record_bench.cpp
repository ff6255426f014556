// The session record (record/):
//   - what a frame costs it on the station's side (the mirror of the
//     receiver over its 200 bytes, the row queued) and on the record's own
//     thread (its share of a commit), as process CPU per frame; and a commit
//     with no rows (the heartbeat, twice a second): together the cost at the
//     link's rate;
//   - the soak's rate, 5000 frames/s for 20 s: the record keeps up (its
//     queue empties at every commit) and its memory does not grow;
//   - a day-long recording's record (830 000 frames) opened and its times
//     put on a trend;
//   - a click to a moment of that day: the frame found and the panel put
//     back to it.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_frames.h"
#include "history/moment.h"
#include "history/pass.h"
#include "history/timeline.h"
#include "history/trend_store.h"
#include "record/link_mirror.h"
#include "record/record_reader.h"
#include "record/record_writer.h"
#include "runtime/model.h"
#include "runtime/panel_file.h"

namespace {

constexpr uint32_t FRAMES_24H = 830000;
constexpr double LINK_FRAMES_PER_S = 9.6;
constexpr double WAIT_S = 600.0;

double process_cpu_s() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

double resident_mb() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * 4096.0 / 1e6;
}

double unix_now() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

struct Folder {
  std::filesystem::path dir;
  explicit Folder(const char* name) : dir(std::filesystem::temp_directory_path() / name) {
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  ~Folder() { std::filesystem::remove_all(dir); }
  std::string file(const std::string& name) const { return (dir / name).string(); }
};

rt::RecordRun run() {
  rt::RecordRun r;
  r.version = "bench";
  r.source = "/dev/ttyUSB0";
  r.started = unix_now();
  return r;
}

// Frames through the mirror and into the record, then committed: process
// CPU per frame, both sides together.
void BM_RecordPerFrame(benchmark::State& state) {
  Folder folder("gse_record_bench");
  const std::string recording = folder.file("52121834.dat");
  bench::Random rng(5);
  const bench::Frame frame = bench::random_frame(rng, 1);
  { std::ofstream(recording, std::ios::binary).write(reinterpret_cast<const char*>(frame.data()), FRAME_LEN); }
  rt::RecordWriter writer(folder.file("52121834.session"), recording, run(), nullptr);
  rt::LinkMirror mirror;
  constexpr int BATCH = 5000;
  int64_t offset = 0;
  double cpu = 0.0;
  long frames = 0;
  for (auto _ : state) {
    const double c0 = process_cpu_s();
    for (int i = 0; i < BATCH; ++i) {
      mirror.recorded(frame.data(), FRAME_LEN, offset);
      rt::FrameRow row;
      int link_bytes = 0;
      mirror.take_frame(&row.offset, &link_bytes);
      row.link_bytes = link_bytes;
      row.t = unix_now();
      row.counter = static_cast<uint32_t>(frames + i);
      writer.add(row);
      offset += FRAME_LEN;
    }
    writer.recorded_to(offset);
    if (!writer.flush(WAIT_S)) state.SkipWithError(writer.failure().c_str());
    cpu += process_cpu_s() - c0;
    frames += BATCH;
  }
  state.counters["cpu_us_per_frame"] = cpu / static_cast<double>(frames) * 1e6;
}
BENCHMARK(BM_RecordPerFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

// A record with nothing to write for 10 s: its heartbeat commits.
void BM_RecordIdle(benchmark::State& state) {
  Folder folder("gse_record_idle");
  const std::string recording = folder.file("52121834.dat");
  { std::ofstream(recording, std::ios::binary).put('x'); }
  for (auto _ : state) {
    rt::RecordWriter writer(folder.file("52121834.session"), recording, run(), nullptr);
    writer.flush(WAIT_S);
    const double c0 = process_cpu_s();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    state.counters["idle_core_percent"] = (process_cpu_s() - c0) / 10.0 * 100.0;
  }
}
BENCHMARK(BM_RecordIdle)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The soak's rate, paced: 5000 frames/s for 20 s, with a log line a second.
void BM_RecordSoak5000(benchmark::State& state) {
  Folder folder("gse_record_soak");
  const std::string recording = folder.file("52121834.dat");
  { std::ofstream(recording, std::ios::binary).put('x'); }
  for (auto _ : state) {
    rt::RecordWriter writer(folder.file("52121834.session"), recording, run(), nullptr);
    rt::LinkMirror mirror;
    bench::Random rng(7);
    const bench::Frame frame = bench::random_frame(rng, 1);
    const auto start = std::chrono::steady_clock::now();
    double rss_after_5s = 0.0;
    int64_t offset = 0;
    long n = 0;
    for (int second = 0; second < 20; ++second) {
      for (int k = 0; k < 50; ++k) {  // 100 frames every 20 ms
        for (int i = 0; i < 100; ++i, ++n) {
          mirror.recorded(frame.data(), FRAME_LEN, offset);
          rt::FrameRow row;
          int link_bytes = 0;
          mirror.take_frame(&row.offset, &link_bytes);
          row.link_bytes = link_bytes;
          row.t = unix_now();
          writer.add(row);
          offset += FRAME_LEN;
        }
        writer.recorded_to(offset);
        std::this_thread::sleep_until(start + std::chrono::milliseconds(1000 * second + 20 * (k + 1)));
      }
      writer.add(rt::LogRow{unix_now(), offset, "INFO", "a line of the log"});
      if (second == 5) rss_after_5s = resident_mb();
    }
    const bool kept_up = writer.flush(WAIT_S);
    state.counters["frames"] = static_cast<double>(n);
    state.counters["written"] = static_cast<double>(writer.frames_written());
    state.counters["kept_up"] = kept_up ? 1 : 0;
    state.counters["rss_5s_MB"] = rss_after_5s;
    state.counters["rss_20s_MB"] = resident_mb();
    writer.close();
  }
}
BENCHMARK(BM_RecordSoak5000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// A day at the link's rate: the recording and its record, written once.
struct Day {
  Folder folder{"gse_record_day"};
  std::string recording = folder.file("42121834.dat");
  Day() {
    std::FILE* out = std::fopen(recording.c_str(), "wb");
    bench::Random rng(29);
    bench::Bytes chunk;
    rt::RecordWriter writer(folder.file("42121834.session"), recording, run(), nullptr);
    const double t0 = 1.7e9;
    int64_t offset = 0;
    for (uint32_t n = 0; n < FRAMES_24H; ++n) {
      // As the link carried it: a live record's frames are read by the
      // receiver's rules, "++-" escapes and all.
      const bench::Bytes link = bench::escape_for_link(bench::random_frame(rng, n & 0x1FFFFF));
      chunk.insert(chunk.end(), link.begin(), link.end());
      writer.add(rt::FrameRow{t0 + n / LINK_FRAMES_PER_S, offset, static_cast<int>(link.size()), 0, n & 0x1FFFFF});
      offset += static_cast<int64_t>(link.size());
      if (chunk.size() >= (1 << 20)) {
        std::fwrite(chunk.data(), 1, chunk.size(), out);
        chunk.clear();
      }
      if (n % 50000 == 0) writer.flush(WAIT_S);  // bounded queue
    }
    std::fwrite(chunk.data(), 1, chunk.size(), out);
    std::fclose(out);
    writer.recorded_to(offset);
    writer.close();
  }
};

Day& day() {
  static Day d;
  return d;
}

// The record alone opened and read: every frame's time and offset.
void BM_PassOpen24h(benchmark::State& state) {
  day();
  for (auto _ : state) {
    rt::Pass pass;
    std::string why;
    if (rt::read_session_record(day().recording, &pass, &why) != rt::PassFound::Found || !pass.frames ||
        pass.frames->frames.size() != FRAMES_24H) {
      state.SkipWithError(why.empty() ? "the record did not give every frame" : why.c_str());
      break;
    }
  }
}
BENCHMARK(BM_PassOpen24h)->Unit(benchmark::kMillisecond)->UseRealTime();

// The record opened and read, and a trend of a value on its times.
void BM_PassOpenAndTrend24h(benchmark::State& state) {
  day();
  for (auto _ : state) {
    auto pass = std::make_shared<rt::Pass>();
    std::string why;
    if (rt::read_session_record(day().recording, pass.get(), &why) != rt::PassFound::Found) {
      state.SkipWithError(why.c_str());
      break;
    }
    rt::TrendStore store(rt::TrendSource{day().recording, rt::FrameRules::Playback, false}, nullptr, 0.5, pass);
    store.want({"HK16"});
    if (!store.wait_idle(WAIT_S) || store.status().frames != static_cast<long>(FRAMES_24H)) {
      const std::string error = "the trend took " + std::to_string(store.status().frames) + " frames of " +
                                std::to_string(FRAMES_24H) + ": " + store.status().note;
      state.SkipWithError(error.c_str());
    }
  }
}
BENCHMARK(BM_PassOpenAndTrend24h)->Unit(benchmark::kMillisecond)->UseRealTime();

// A moment of the day clicked: its frame in the playback's index found, and
// the panel put back to it as the seek does.
void BM_MomentToPanel24h(benchmark::State& state) {
  static std::shared_ptr<rt::Pass> pass;
  static std::unique_ptr<rt::RecordingIndex> index;
  static std::unique_ptr<rt::PanelModel> model;
  if (!index) {
    pass = std::make_shared<rt::Pass>();
    std::string why;
    rt::read_session_record(day().recording, pass.get(), &why);
    index = std::make_unique<rt::RecordingIndex>(day().recording, rt::FrameRules::Playback);
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
  const double t = 1.7e9 + static_cast<double>(state.range(0)) / LINK_FRAMES_PER_S;
  for (auto _ : state) {
    int64_t offset = 0;
    rt::offset_of_time(pass.get(), day().recording, t, &offset);
    const long frame = rt::index_frame_at(*index, offset);
    rt::PanelMoment moment;
    std::string error;
    if (!rt::panel_moment(*model, day().recording, rt::FrameRules::Playback, *index, frame, &moment, &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    model->restore(moment);
  }
}
BENCHMARK(BM_MomentToPanel24h)->Arg(1000)->Arg(415000)->Arg(829999)->Unit(benchmark::kMillisecond);

}  // namespace
