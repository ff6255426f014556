// Writes a playback file for the whole-program measurements:
//   gse_bench_recording --out FILE --frames N [--damaged]
// N sealed frames back to back; with --damaged, every 10th frame fails its
// checksum and every 7th follows 13 stray bytes. Prints the good frames.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/bench_frames.h"

int main(int argc, char* argv[]) {
  const char* out = nullptr;
  long frames = 0;
  bool damaged = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc) {
      out = argv[++i];
    } else if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
      frames = std::strtol(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--damaged") == 0) {
      damaged = true;
    } else {
      out = nullptr;
      break;
    }
  }
  if (out == nullptr || frames <= 0) {
    std::fprintf(stderr, "usage: gse_bench_recording --out FILE --frames N [--damaged]\n");
    return 2;
  }
  FILE* fp = std::fopen(out, "wb");
  if (fp == nullptr) {
    std::perror(out);
    return 1;
  }
  bench::Random rng(5);
  long good = 0;
  for (long n = 0; n < frames; ++n) {
    bench::Frame f = bench::random_frame(rng, static_cast<uint32_t>(n) & 0x1FFFFF);
    if (damaged && n % 7 == 3) {
      bench::Bytes stray = bench::noise(rng, 13, true);
      std::fwrite(stray.data(), 1, stray.size(), fp);
    }
    if (damaged && n % 10 == 5) {
      f[OFF_CHECKSUM] ^= (f[OFF_CHECKSUM] == (SYNC0 ^ 1)) ? 2 : 1;  // never a false 0xEB
    } else {
      ++good;
    }
    std::fwrite(f.data(), 1, f.size(), fp);
  }
  if (std::fclose(fp) != 0) {
    std::perror(out);
    return 1;
  }
  std::printf("%ld\n", good);
  return 0;
}
