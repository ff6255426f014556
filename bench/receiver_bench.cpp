// The serial receiver's throughput in link bytes per second: get_port_frm on
// an endless in-memory stream (clean frames, escape-heavy frames, noise), and
// through the unit tests' MemoryPort.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

#include "bench/bench_frames.h"
#include "link/frame.h"
#include "link/receiver.h"
#include "runtime/com_port.h"
#include "runtime/memory_port.h"
#include "runtime/serial.h"

namespace {

// Replays one buffer for ever; writes (the acknowledgements) are dropped.
class RingPort : public rt::ComPort {
 public:
  explicit RingPort(bench::Bytes bytes) : bytes_(std::move(bytes)) {}
  int open(const std::string&, long, int, int, int) override { return 0; }
  void set_timeout(double) override {}
  int read_byte() override {
    int b = bytes_[at_];
    if (++at_ == bytes_.size()) at_ = 0;
    ++consumed_;
    return b;
  }
  int write(const unsigned char*, int n) override { return n; }
  void close() override {}
  int system_error() const override { return 0; }
  std::string error_text() const override { return ""; }
  int64_t consumed() const { return consumed_; }

 private:
  bench::Bytes bytes_;
  size_t at_ = 0;
  int64_t consumed_ = 0;
};

enum Stream { CLEAN, ESCAPE_HEAVY, NOISE };

bench::Bytes make_stream(Stream kind) {
  bench::Random rng(7);
  bench::Bytes out;
  if (kind == NOISE) return bench::noise(rng, 1 << 20, false);
  for (uint32_t n = 0; n < 2000; ++n) {
    bench::Frame f = kind == CLEAN ? bench::random_frame(rng, n) : bench::escape_heavy_frame(n);
    bench::append(out, bench::escape_for_link(f));
  }
  return out;
}

void open_port(std::shared_ptr<rt::ComPort> port) {
  rt::reset_serial_for_tests();
  rt::set_com_port(std::move(port));
  OpenComConfig(1, "COM1", 19200, 0, 8, 1, 512, 512);
}

void receive_ring(benchmark::State& state, Stream kind, bool record) {
  auto port = std::make_shared<RingPort>(make_stream(kind));
  open_port(port);
  // The run-time's recording: bytes buffered, written by its own thread.
  FileStream* rec = record ? FileOpen("/dev/null", "wb") : nullptr;
  receiver_attach_recording(rec);
  uint8_t frame[FRAME_LEN];
  int64_t good = 0;
  for (auto _ : state) {
    int result = get_port_frm(frame);
    good += result == RX_OK;
    benchmark::DoNotOptimize(frame);
  }
  state.SetBytesProcessed(port->consumed());
  state.counters["good_frames/s"] = benchmark::Counter(static_cast<double>(good), benchmark::Counter::kIsRate);
  receiver_attach_recording(nullptr);
  FileClose(rec);
  rt::reset_serial_for_tests();
}

void BM_Receiver_Clean(benchmark::State& s) { receive_ring(s, CLEAN, false); }
void BM_Receiver_EscapeHeavy(benchmark::State& s) { receive_ring(s, ESCAPE_HEAVY, false); }
void BM_Receiver_Noise(benchmark::State& s) { receive_ring(s, NOISE, false); }
void BM_Receiver_Clean_Recording(benchmark::State& s) { receive_ring(s, CLEAN, true); }

// The same clean stream through MemoryPort, fed in batches outside the timing.
void BM_Receiver_Clean_MemoryPort(benchmark::State& state) {
  const bench::Bytes stream = make_stream(CLEAN);
  constexpr int BATCH = 2000;  // the frames in one stream
  auto port = std::make_shared<rt::MemoryPort>();
  open_port(port);
  receiver_attach_recording(nullptr);
  uint8_t frame[FRAME_LEN];
  int64_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    port->feed(stream);
    state.ResumeTiming();
    for (int i = 0; i < BATCH; ++i) benchmark::DoNotOptimize(get_port_frm(frame));
    bytes += static_cast<int64_t>(stream.size());
  }
  state.SetBytesProcessed(bytes);
  rt::reset_serial_for_tests();
}

}  // namespace

BENCHMARK(BM_Receiver_Clean);
BENCHMARK(BM_Receiver_EscapeHeavy);
BENCHMARK(BM_Receiver_Noise);
BENCHMARK(BM_Receiver_Clean_Recording);
BENCHMARK(BM_Receiver_Clean_MemoryPort);
