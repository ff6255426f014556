// Fuzzes the serial receiver against a reference model of its state table.
// Input: byte 0 sets where the port times out (every k-th read, 0 = never);
// the rest is the link. Invariants, call by call:
//   - the result, the nskip growth and (on success) the 200 stored bytes equal
//     the model's: hunted bytes add 1 each, an illegal escape adds the stored
//     count, a checksum failure 200, a time-out nothing;
//   - the frame buffer (exactly 200 bytes, heap) is never written past;
//   - the recording equals the link bytes consumed, in order;
//   - "RCVD\r" went out once per ten completed frames;
//   - the byte-fed scanner (link/scanner.h) driven with no port, as the
//   recording index drives it over a recording (no time-outs), ends each
//   attempt as the model does, with the same frame and skipped count.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "link/frame.h"
#include "link/receiver.h"
#include "link/scanner.h"
#include "runtime/memory_port.h"
#include "runtime/serial.h"
#include "runtime/testing.h"
#include "runtime/ui.h"
#include "fuzz/reference_receiver.h"

namespace {

constexpr int TIMEOUT = reference::REF_TIMEOUT;

// The recording: one for the whole run (its writer is a thread), written
// unbuffered by the run-time into memory through a cookie stream.
std::vector<uint8_t>& recorded() {
  static std::vector<uint8_t> bytes;
  return bytes;
}

FileStream* recording() {
  static FileStream* stream = [] {
    cookie_io_functions_t io{};
    io.write = [](void*, const char* bytes, size_t n) -> ssize_t {
      recorded().insert(recorded().end(), bytes, bytes + n);
      return static_cast<ssize_t>(n);
    };
    return rt::stream_over(fopencookie(nullptr, "ab", io), "fuzz recording", "ab");
  }();
  return stream;
}

void fail(const char* what, int call) {
  std::fprintf(stderr, "receiver invariant broken at call %d: %s\n", call, what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int every = data[0] % 16;  // a time-out at every k-th read (k >= 2), or none
  std::vector<int> link;
  std::vector<uint8_t> bytes_only;
  for (size_t i = 1; i < size; ++i) {
    if (every >= 2 && i % every == 0) link.push_back(TIMEOUT);
    link.push_back(data[i]);
    bytes_only.push_back(data[i]);
  }

  auto port = std::make_shared<rt::MemoryPort>();
  for (int v : link) {
    if (v == TIMEOUT) port->feed_timeout();
    else { uint8_t b = static_cast<uint8_t>(v); port->feed(&b, 1); }
  }
  rt::reset_serial_for_tests();
  rt::set_com_port(port);
  OpenComConfig(1, "COM1", 19200, 0, 8, 1, 512, 512);
  receiver_reset_for_tests();
  nskip_reset_for_tests();

  // The writer is idle after the last input's drain: the memory can be reused.
  recorded().clear();
  receiver_attach_recording(recording());

  size_t model_at = 0;
  int completed = 0;
  std::unique_ptr<uint8_t[]> frame(new uint8_t[FRAME_LEN]);
  for (int call = 0; model_at < link.size(); ++call) {
    int32_t before = nskip_count();
    int result = get_port_frm(frame.get());
    reference::Outcome want = reference::receive(link, &model_at);
    completed += want.completed;
    if (result != want.result) fail("result differs from the state table", call);
    if (nskip_count() - before != want.skipped) fail("nskip grew by the wrong count", call);
    if (result == RX_OK && std::memcmp(frame.get(), want.frame, FRAME_LEN) != 0)
      fail("stored frame differs", call);
    if (nrcvd_count() != static_cast<uint32_t>(completed)) fail("completed frames miscounted", call);
    if (port->pending() != link.size() - model_at) fail("read a different number of bytes", call);
  }

  rt::drain_recording(recording());  // everything the receiver wrote, handed on
  receiver_attach_recording(nullptr);
  if (recorded() != bytes_only) fail("recording differs from the link bytes consumed", -1);

  const size_t acks = static_cast<size_t>(completed / 10);
  const std::vector<uint8_t>& written = port->written();
  if (written.size() != acks * 5) fail("wrong number of acknowledgements", -1);
  for (size_t i = 0; i < written.size(); ++i)
    if (written[i] != static_cast<uint8_t>("RCVD\r"[i % 5])) fail("acknowledgement text", -1);
  rt::reset_serial_for_tests();

  // The recording of the same bytes, scanned: no time-outs in it.
  size_t model = 0;
  std::unique_ptr<uint8_t[]> scanned(new uint8_t[FRAME_LEN]);
  LinkScan scan;
  link_scan_start(&scan, scanned.get());
  int32_t skipped = 0;
  int attempt = 0;
  for (size_t i = 0; i < bytes_only.size(); ++i) {
    const int result = link_scan_byte(&scan, bytes_only[i]);
    if (result == SCAN_HUNTED) ++skipped;
    if (!scan_ends_attempt(result)) continue;
    reference::Outcome want = reference::receive(bytes_only, &model);
    if (model != i + 1) fail("the scanner ends an attempt at another byte", attempt);
    if (result == SCAN_ILLEGAL_ESCAPE) skipped += scan.n_stored;
    if (result == SCAN_BAD_CHECKSUM) skipped += FRAME_LEN;
    const int as_receiver = result == SCAN_FRAME ? reference::REF_OK
                            : result == SCAN_BAD_CHECKSUM ? reference::REF_BAD_CHECKSUM
                            : result == SCAN_ILLEGAL_ESCAPE ? reference::REF_ILLEGAL_ESCAPE : -3;
    if (as_receiver != want.result) fail("the scanner's result differs from the state table", attempt);
    if (skipped != want.skipped) fail("the scanner's skipped count differs", attempt);
    if (result == SCAN_FRAME && std::memcmp(scanned.get(), want.frame, FRAME_LEN) != 0)
      fail("the scanner's frame differs", attempt);
    skipped = 0;
    ++attempt;
    link_scan_start(&scan, scanned.get());
  }
  return 0;
}
