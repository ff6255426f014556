// The campaign archive (archive/):
//   - a day-long recording (830 000 frames) indexed: its figures and every
//     value's per-minute minimum, maximum and mean (the aim: under 2 s), and
//     the resident memory it takes (bounded by the sessions, not the frames);
//   - a search over 1 000 archived sessions, by text and by alarm (the aim:
//     under 100 ms);
//   - one value's minutes across the 1 000 sessions (the cross-session
//     trend's read).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "archive/archive.h"
#include "bench/bench_frames.h"

namespace {

constexpr uint32_t FRAMES_24H = 830000;
constexpr int SESSIONS = 1000;

double resident_mb() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * 4096.0 / 1e6;
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

void write_frames(const std::string& path, uint32_t frames, uint64_t seed) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  bench::Random rng(seed);
  bench::Bytes chunk;
  for (uint32_t n = 0; n < frames; ++n) {
    bench::append(chunk, bench::random_frame(rng, n & 0x1FFFFF));
    if (chunk.size() >= (1 << 20)) {
      std::fwrite(chunk.data(), 1, chunk.size(), out);
      chunk.clear();
    }
  }
  std::fwrite(chunk.data(), 1, chunk.size(), out);
  std::fclose(out);
}

void BM_ArchiveIndexDay(benchmark::State& state) {
  Folder folder("gse_archive_day");
  write_frames(folder.file("42121834.dat"), FRAMES_24H, 31);
  const double before = resident_mb();
  for (auto _ : state) {
    std::filesystem::remove(rt::archive_path(folder.dir.string()));
    rt::Archive archive;
    std::string error;
    archive.open(folder.dir.string(), &error);
    const rt::IndexOutcome o = archive.index();
    if (o.read != 1) state.SkipWithError("the day was not indexed");
    state.counters["rss_growth_MB"] = resident_mb() - before;
  }
  state.counters["frames"] = FRAMES_24H;
}
BENCHMARK(BM_ArchiveIndexDay)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// 1 000 short sessions (a minute each), indexed once.
struct Campaign {
  Folder folder{"gse_archive_campaign"};
  rt::Archive archive;
  Campaign() {
    for (int i = 0; i < SESSIONS; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "s%04d/4%03d1200.dat", i / 100, i % 365);
      std::filesystem::create_directories((folder.dir / name).parent_path());
      write_frames(folder.file(name), 600, static_cast<uint64_t>(i));
    }
    std::string error;
    archive.open(folder.dir.string(), &error);
    archive.index();
  }
};

Campaign& campaign() {
  static Campaign c;
  return c;
}

void BM_ArchiveSearch1000(benchmark::State& state) {
  rt::Archive& a = campaign().archive;
  rt::SessionFilter f;
  if (state.range(0) == 1) f.text = "cut-down";
  if (state.range(0) == 2) f.alarm = "HK16";
  size_t n = 0;
  for (auto _ : state) n = a.sessions(f).size();
  state.counters["sessions"] = static_cast<double>(n);
}
BENCHMARK(BM_ArchiveSearch1000)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_ArchiveMinutesAcross1000(benchmark::State& state) {
  rt::Archive& a = campaign().archive;
  const auto rows = a.sessions();
  size_t n = 0;
  for (auto _ : state) {
    n = 0;
    for (const rt::SessionRow& r : rows) n += a.minutes(r.session, "HK16").size();
  }
  state.counters["minutes"] = static_cast<double>(n);
}
BENCHMARK(BM_ArchiveMinutesAcross1000)->Unit(benchmark::kMillisecond);

}  // namespace
