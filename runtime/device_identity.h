// Who a serial device is, as the operating system tells it: a USB adapter's
// serial number and its vendor and product ids. A pseudo-terminal or a
// built-in port tells none. The station remembers the identity of the
// device that opened as COM1 and reopens a returning port's path only when
// the same device is there again (serial.cpp): a renumbered adapter, or a
// second one plugged in meanwhile, must never be read as the first.
// Qt-free; the program's lookup (QSerialPortInfo) lives in runtime/qt/.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace rt {

struct DeviceIdentity {
  bool present = false;        // a device is at the path at all
  std::string serial_number;   // "" when it tells none
  bool has_ids = false;
  uint16_t vendor_id = 0, product_id = 0;
  std::string description;     // the maker's words, for messages only

  // It tells something by which it can be recognised.
  bool known() const { return has_ids || !serial_number.empty(); }
  // "USB 0403:6001 serial A10K3XYZ (FT232R USB UART)", "USB 1a86:7523 (no
  // serial number)", "no identity".
  std::string text() const;
};

// Whether `now` is the device `was` was. Two adapters of one make without
// serial numbers cannot be told apart: the same ids count as the same
// device. A device that tells nothing is never the same as one that told
// something.
bool same_device(const DeviceIdentity& was, const DeviceIdentity& now);

// The lookup of the identity of the device at a path, installed at program
// start (and by tests); without one, identities are not checked. It is
// called on the system's thread when a device opens and before a lost one
// is reopened.
using IdentityLookup = std::function<DeviceIdentity(const std::string& path)>;
void set_device_identity_lookup(IdentityLookup lookup);

}  // namespace rt
