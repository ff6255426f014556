// The playback reader's throughput with waits off: get_file_frm over a whole
// file of clean frames, and of frames with stray bytes, bad checksums and cuts.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/bench_frames.h"
#include "link/frame.h"
#include "link/reader.h"
#include "runtime/testing.h"

namespace {

constexpr uint32_t FRAMES = 10000;

// Every 10th frame fails its checksum, every 7th follows 13 stray bytes and
// every 50th is cut after 120 bytes.
bench::Bytes make_file(bool damaged) {
  bench::Random rng(11);
  bench::Bytes out;
  for (uint32_t n = 0; n < FRAMES; ++n) {
    bench::Frame f = bench::random_frame(rng, n);
    if (!damaged) {
      bench::append(out, f);
      continue;
    }
    if (n % 7 == 3) bench::append(out, bench::noise(rng, 13, true));
    if (n % 10 == 5) f[OFF_CHECKSUM] ^= (f[OFF_CHECKSUM] == (SYNC0 ^ 1)) ? 2 : 1;  // never a false 0xEB
    if (n % 50 == 25) {
      out.insert(out.end(), f.begin(), f.begin() + 120);
    } else {
      bench::append(out, f);
    }
  }
  return out;
}

void read_file(benchmark::State& state, bool damaged) {
  const bench::Bytes bytes = make_file(damaged);
  const std::string path = (std::filesystem::temp_directory_path() / "gse_reader_bench.dat").string();
  FILE* out = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), out);
  std::fclose(out);
  FileStream* fp = FileOpen(path.c_str(), "rb");
  rt::set_speed(0);
  reader_attach(fp);
  uint8_t frame[FRAME_LEN];
  int64_t good = 0;
  for (auto _ : state) {
    FileSeek(fp, 0, SEEK_SET);
    while (get_file_frm(frame) == 0) ++good;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
  state.counters["good_frames/s"] = benchmark::Counter(static_cast<double>(good), benchmark::Counter::kIsRate);
  reader_attach(nullptr);
  FileClose(fp);
  std::filesystem::remove(path);
}

void BM_Reader_Clean(benchmark::State& s) { read_file(s, false); }
void BM_Reader_Damaged(benchmark::State& s) { read_file(s, true); }

}  // namespace

BENCHMARK(BM_Reader_Clean)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reader_Damaged)->Unit(benchmark::kMillisecond);
