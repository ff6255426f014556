#include "runtime/device_identity.h"

#include <cstdio>

namespace rt {

std::string DeviceIdentity::text() const {
  if (!known()) return "no identity";
  std::string out;
  if (has_ids) {
    char ids[32];
    std::snprintf(ids, sizeof ids, "USB %04x:%04x", vendor_id, product_id);
    out = ids;
  }
  if (!serial_number.empty()) out += (out.empty() ? "serial " : " serial ") + serial_number;
  else out += " (no serial number)";
  if (!description.empty()) out += " (" + description + ")";
  return out;
}

bool same_device(const DeviceIdentity& was, const DeviceIdentity& now) {
  if (!was.known() || !now.known()) return was.known() == now.known();
  if (was.has_ids != now.has_ids) return false;
  if (was.has_ids && (was.vendor_id != now.vendor_id || was.product_id != now.product_id)) return false;
  return was.serial_number == now.serial_number;
}

}  // namespace rt
