// The recording index (replay/recording_index.h) over a 24-hour recording:
// 830 000 frames at the link's rate, a damaged frame every 50 and stray
// bytes before every 7th, indexed by the playback reader's rules (a file as
// the playback reads it) and by the live receiver's (the raw link bytes of a
// live recording, with its escapes). Each iteration builds the index on its
// own thread from the file and waits for it: the time the position bar waits
// before seeking is offered.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/bench_frames.h"
#include "link/frame.h"
#include "replay/recording_index.h"

namespace {

constexpr uint32_t FRAMES_24H = 830000;  // 24 h at 9.6 frames/s

// The recordings, written once per process and removed at its end.
struct Recordings {
  std::string paths[2];
  ~Recordings() {
    for (const std::string& p : paths)
      if (!p.empty()) std::filesystem::remove(p);
  }
};

// `link` escapes every frame and makes every 25th escape-heavy.
const std::string& recording(bool link) {
  static Recordings made;
  std::string& path = made.paths[link ? 1 : 0];
  if (!path.empty()) return path;
  path = (std::filesystem::temp_directory_path() /
          (link ? "gse_index_bench_link.dat" : "gse_index_bench_plain.dat")).string();
  FILE* out = std::fopen(path.c_str(), "wb");
  bench::Random rng(23);
  bench::Bytes chunk;
  for (uint32_t n = 0; n < FRAMES_24H; ++n) {
    bench::Frame f = link && n % 25 == 12 ? bench::escape_heavy_frame(n) : bench::random_frame(rng, n);
    if (n % 7 == 3) bench::append(chunk, bench::noise(rng, 13, true));
    if (n % 50 == 25) f[OFF_CHECKSUM] ^= (f[OFF_CHECKSUM] == (SYNC0 ^ 1)) ? 2 : 1;
    if (link) bench::append(chunk, bench::escape_for_link(f));
    else bench::append(chunk, f);
    if (chunk.size() >= (1 << 20)) {
      std::fwrite(chunk.data(), 1, chunk.size(), out);
      chunk.clear();
    }
  }
  std::fwrite(chunk.data(), 1, chunk.size(), out);
  std::fclose(out);
  return path;
}

void index_file(benchmark::State& state, bool link) {
  const std::string& path = recording(link);
  long frames = 0;
  for (auto _ : state) {
    rt::RecordingIndex index(path, link ? rt::FrameRules::Link : rt::FrameRules::Playback);
    index.wait(600.0);
    frames = index.frames();
  }
  const auto size = std::filesystem::file_size(path);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
  state.counters["frames"] = static_cast<double>(frames);
}

void BM_Index_24h_Playback(benchmark::State& s) { index_file(s, false); }
void BM_Index_24h_Link(benchmark::State& s) { index_file(s, true); }

}  // namespace

BENCHMARK(BM_Index_24h_Playback)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Index_24h_Link)->Unit(benchmark::kMillisecond)->UseRealTime();
