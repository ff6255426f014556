// Fuzzes the playback reader with resynchronisation on an in-memory file,
// read through the run-time's look-back stream as a pipe would be.
// Invariants:
//   - every record returned starts with the sync word, passes the checksum
//     and is the file's 200 bytes at the stream position it was read from;
//   - nskip grows by exactly the bytes between two returned frames (from the
//     start of the file before the first), and at the end by the bytes a
//     failed hunt passed over (a final short record is not counted), as a
//     position-only model of the hunt says;
//   - the frame buffer (exactly 200 bytes, heap) is never written past, and
//     the reader never reads past the file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "link/frame.h"
#include "link/reader.h"
#include "link/scanner.h"
#include "runtime/testing.h"
#include "runtime/transport.h"
#include "runtime/ui.h"

namespace {

// A frame: the sync word, and the checksum.
bool sum_ok(const uint8_t* f) {
  if (f[0] != 0xEB || f[1] != 0x90) return false;
  unsigned sum = 0;
  for (int i = 0; i < 198; i += 2) sum += (f[i] << 8) | f[i + 1];
  return (sum & 0xFFFF) == static_cast<unsigned>((f[198] << 8) | f[199]);
}

struct Good {
  size_t start;
  int32_t skipped_before;  // nskip growth since the previous good frame
};

// Position model: records at `pos`; after a failure the hunt starts one byte
// in and takes 0xEB 0x90 pairs without overlap.
std::vector<Good> reference_read(const uint8_t* data, size_t n, int32_t* tail_skipped) {
  std::vector<Good> out;
  size_t pos = 0;
  int32_t skipped = 0;
  for (;;) {
    if (n - pos < FRAME_LEN) break;
    if (sum_ok(data + pos)) {
      out.push_back({pos, skipped});
      skipped = 0;
      pos += FRAME_LEN;
      continue;
    }
    size_t found = 0;
    bool after_eb = false;
    for (size_t i = pos + 1; i < n; ++i) {
      if (!after_eb) {
        after_eb = data[i] == 0xEB;
      } else if (data[i] == 0x90) {
        found = i - 1;
        break;
      } else {
        after_eb = false;
      }
    }
    if (found == 0) {
      skipped += static_cast<int32_t>(n - pos);
      break;
    }
    skipped += static_cast<int32_t>(found - pos);
    pos = found;
  }
  *tail_skipped = skipped;
  return out;
}

void fail(const char* what, size_t k) {
  std::fprintf(stderr, "reader invariant broken at good frame %zu: %s\n", k, what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size heap copy, so that a read past the file's end would be seen.
  std::unique_ptr<uint8_t[]> copy(new uint8_t[size + 1]);
  std::memcpy(copy.get(), data, size);
  FILE* file = size ? fmemopen(copy.get(), size, "rb") : std::tmpfile();
  if (file == nullptr) return 0;
  FileStream* fp = rt::stream_over(file, "fuzz input", "rb");
  rt::set_speed(0);
  nskip_reset_for_tests();
  reader_attach(fp);

  int32_t want_tail = 0;
  std::vector<Good> want = reference_read(data, size, &want_tail);
  std::unique_ptr<uint8_t[]> frame(new uint8_t[FRAME_LEN]);
  size_t k = 0;
  int32_t before = nskip_count();
  while (get_file_frm(frame.get()) == 0) {
    const int64_t end = rt::transport_position().bytes;
    if (k >= want.size()) fail("more frames than the model", k);
    if (end < FRAME_LEN || static_cast<uint64_t>(end) > size) fail("position outside the file", k);
    size_t start = static_cast<size_t>(end) - FRAME_LEN;
    if (start != want[k].start) fail("frame at the wrong position", k);
    if (!sum_ok(frame.get())) fail("returned a frame that fails the checksum", k);
    if (std::memcmp(frame.get(), data + start, FRAME_LEN) != 0) fail("frame is not the file's bytes", k);
    if (nskip_count() - before != want[k].skipped_before) fail("nskip is not the bytes between frames", k);
    before = nskip_count();
    ++k;
  }
  if (k != want.size()) fail("fewer frames than the model", k);

  PlaybackScan scan;
  playback_scan_start(&scan);
  size_t found = 0;
  for (size_t at = 0, step = 0; at < size; ++step) {
    const size_t chunk = 1 + data[step % size] % 251;
    size_t used = 0;
    const int result = playback_scan_feed(&scan, data + at, std::min(chunk, size - at), &used);
    at += used;
    if (result != PLAY_FRAME) continue;
    if (found >= want.size()) fail("the scanner finds more frames than the model", found);
    if (static_cast<size_t>(scan.record_at) != want[found].start) fail("the scanner's frame at the wrong position", found);
    if (std::memcmp(scan.record, data + want[found].start, FRAME_LEN) != 0) fail("the scanner's frame bytes", found);
    // Every byte before the frame is in an earlier frame or was skipped.
    if (scan.n_skipped != static_cast<int64_t>(want[found].start) - static_cast<int64_t>(found) * FRAME_LEN)
      fail("the scanner's skipped count", found);
    ++found;
  }
  if (found != want.size()) fail("the scanner finds fewer frames than the model", found);
  if (nskip_count() - before != want_tail) fail("nskip at the end of input", k);
  // Once at the end, it stays there.
  if (get_file_frm(frame.get()) != -1) fail("a frame after the end of input", k);
  reader_attach(nullptr);
  FileClose(fp);
  return 0;
}
