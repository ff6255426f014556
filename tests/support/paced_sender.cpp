#include "support/paced_sender.h"

#include <utility>

namespace testing_pty {

PacedSender::PacedSender(InstrumentPty& pty, std::chrono::milliseconds period,
                         std::function<std::vector<uint8_t>(uint32_t n)> frame)
    : thread_([this, &pty, period, frame = std::move(frame)] {
        for (uint32_t n = 0; !stop_; ++n) {
          const std::vector<uint8_t> bytes = frame(n);
          pty.send_some(bytes.data(), bytes.size());
          std::this_thread::sleep_for(period);
        }
      }) {}

PacedSender::~PacedSender() {
  stop_ = true;
  thread_.join();
}

}  // namespace testing_pty
