// The QSerialPort backend of runtime/serial.h.
#pragma once

#include <memory>

#include "runtime/com_port.h"

namespace rt {

std::shared_ptr<ComPort> make_qt_serial_port();

}  // namespace rt
