#include "archive/session_scan.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <system_error>

#include "history/values.h"
#include "link/frame.h"
#include "record/record_writer.h"

namespace rt {

namespace {

constexpr size_t CHUNK = 1 << 20;

bool seek_to(std::FILE* fp, int64_t offset) {
#ifdef _WIN32
  return _fseeki64(fp, offset, SEEK_SET) == 0;
#else
  return fseeko(fp, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

std::string errno_text(int err) { return std::make_error_code(static_cast<std::errc>(err)).message(); }

// One value's minute being summed.
struct Running {
  int64_t minute = INT64_MIN;
  int64_t samples = 0;
  double min = 0.0, max = 0.0, sum = 0.0;
};

}  // namespace

int64_t minute_of(double t_s) { return static_cast<int64_t>(std::floor(t_s / 60.0)); }

bool scan_session(const std::string& path, const ScanRequest& request, ScanFigures* out, std::string* error) {
  *out = ScanFigures{};
  error->clear();
  std::FILE* fp = std::fopen(path.c_str(), "rb");
  if (!fp || (request.from > 0 && !seek_to(fp, request.from))) {
    *error = path + ": " + errno_text(errno);
    if (fp) std::fclose(fp);
    return false;
  }
  const bool decode = !request.values.empty() && request.on_minute;
  FrameScanner scanner(request.rules, decode || static_cast<bool>(request.on_frame), request.shown);
  std::vector<Running> running(request.values.size());
  std::vector<uint8_t> chunk(CHUNK), head;
  int64_t at = request.from;
  double prev_t = UNKNOWN_TIME;
  auto flush = [&](size_t v) {
    Running& r = running[v];
    if (r.samples > 0)
      request.on_minute(*request.values[v],
                        MinuteSummary{r.minute, r.samples, r.min, r.max, r.sum / static_cast<double>(r.samples)});
    r = Running{};
  };
  bool ok = true;
  for (;;) {
    if (request.stop && request.stop->load(std::memory_order_relaxed)) {
      ok = false;
      break;
    }
    size_t want = chunk.size();
    if (request.to >= 0) want = static_cast<size_t>(std::clamp<int64_t>(request.to - at, 0, CHUNK));
    const size_t got = want ? std::fread(chunk.data(), 1, want, fp) : 0;
    if (got == 0) {
      if (std::ferror(fp)) {
        *error = path + ": read error: " + errno_text(errno);
        ok = false;
      }
      break;
    }
    if (at < RECORD_HEAD_BYTES) {
      const auto take = static_cast<size_t>(std::min<int64_t>(RECORD_HEAD_BYTES - at, static_cast<int64_t>(got)));
      head.insert(head.end(), chunk.begin(), chunk.begin() + static_cast<long>(take));
    }
    if (request.on_bytes) request.on_bytes(chunk.data(), got);
    scanner.feed(chunk.data(), got);
    at += static_cast<int64_t>(got);
    if (request.read) request.read->fetch_add(static_cast<int64_t>(got), std::memory_order_relaxed);
    const auto& marks = scanner.frames();
    const auto& bytes = scanner.frame_bytes();
    for (size_t k = 0; k < marks.size(); ++k) {
      // Never back in time (a clock set back while recording): a frame takes
      // at least the time of the one before.
      // The scanner counts offsets from where it was first fed.
      double t = request.time_of(request.from + marks[k].offset);
      if (!std::isnan(prev_t)) {
        t = std::max(t, prev_t);
        out->longest_gap_s = std::max(out->longest_gap_s, t - prev_t);
      } else {
        out->first_s = t;
      }
      prev_t = t;
      const int64_t minute = minute_of(t);
      if (out->frames_per_minute.empty() || out->frames_per_minute.back().first != minute)
        out->frames_per_minute.emplace_back(minute, 0);
      ++out->frames_per_minute.back().second;
      ++out->frames;
      out->bytes_skipped = marks[k].skipped;
      if (bytes.empty()) continue;
      const uint8_t* frame = bytes.data() + k * FRAME_LEN;
      if (request.on_frame) request.on_frame(frame, t);
      if (!decode) continue;
      const uint32_t count = fcount(frame);
      for (size_t v = 0; v < request.values.size(); ++v) {
        const ValueInfo& info = *request.values[v];
        if (!carries(info, count)) continue;
        const double x = decode_value(info, frame);
        if (!std::isfinite(x)) continue;
        Running& r = running[v];
        if (r.minute != minute) {
          flush(v);
          r.minute = minute;
        }
        if (r.samples == 0) {
          r.min = r.max = x;
        } else {
          r.min = std::min(r.min, x);
          r.max = std::max(r.max, x);
        }
        r.sum += x;
        ++r.samples;
      }
    }
    scanner.clear_found();
  }
  std::fclose(fp);
  if (!ok) return false;
  if (decode)
    for (size_t v = 0; v < running.size(); ++v) flush(v);
  out->last_s = prev_t;
  out->bytes_read = at - request.from;
  out->checksum_failures = scanner.bad_checksums();
  out->illegal_escapes = scanner.illegal_escapes();
  if (request.from == 0) out->head_hash = head_hash_text(head.data(), head.size());
  return true;
}

}  // namespace rt
