// The QSerialPort backend of runtime/serial.h.
#pragma once

#include <memory>

#include "runtime/com_port.h"
#include "runtime/device_identity.h"

namespace rt {

std::shared_ptr<ComPort> make_qt_serial_port();

// The identity of the device at `path` as QSerialPortInfo reports it (a
// symbolic link, such as a udev name, is followed): USB serial number,
// vendor and product ids. A pseudo-terminal is present with none.
DeviceIdentity qt_device_identity(const std::string& path);

}  // namespace rt
