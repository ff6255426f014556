// The analysis export of one recording on its own, as the window's Export CSV
// runs it: frames per second (wall) for the files asked for.
//   gse_export_bench FILE OUT.csv [SAMPLES.csv]
#include <chrono>
#include <cstdio>

#include "export/export_job.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: gse_export_bench FILE OUT.csv [SAMPLES.csv]\n");
    return 2;
  }
  rt::ExportOptions options;
  options.frames_path = argv[2];
  if (argc > 3) options.samples_path = argv[3];
  const auto start = std::chrono::steady_clock::now();
  const rt::ExportResult r = rt::export_recording(argv[1], options);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!r.ok) {
    std::fprintf(stderr, "%s\n", r.error.c_str());
    return 1;
  }
  std::printf("%lld frames in %.2f s: %.0f frames/s\n", static_cast<long long>(r.frames), s,
              static_cast<double>(r.frames) / s);
  return 0;
}
