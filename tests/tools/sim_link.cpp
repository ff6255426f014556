#include "sim_link.h"

#include <memory>

#include "link/frame.h"
#include "link/receiver.h"
#include "runtime/com_port.h"
#include "runtime/memory_port.h"
#include "runtime/serial.h"

namespace sim_testing {

Received receive_all(const std::vector<uint8_t>& stream) {
  rt::reset_serial_for_tests();
  receiver_reset_for_tests();
  nskip_reset_for_tests();
  receiver_attach_recording(nullptr);
  auto port = std::make_shared<rt::MemoryPort>();
  rt::set_com_port(port);
  OpenComConfig(1, "COM1", 19200, 0, 8, 1, 0, 0);
  port->feed(stream);

  Received got;
  while (port->pending() > 0) {
    sim::Frame frame{};
    int result = get_port_frm(frame.data());
    got.results.push_back(result);
    if (result == RX_OK) got.frames.push_back(frame);
  }
  got.nskip = nskip_count();
  got.completed = nrcvd_count();
  CloseCom(1);
  rt::reset_serial_for_tests();
  return got;
}

}  // namespace sim_testing
