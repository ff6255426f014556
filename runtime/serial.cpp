// The serial calls of the system, on the port object chosen at start-up.
#include "runtime/serial.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "runtime/com_port.h"
#include "runtime/context.h"
#include "runtime/device_identity.h"
#include "runtime/session_watch.h"
#include "runtime/trace.h"

namespace rt {

namespace {

struct SerialState {
  std::shared_ptr<ComPort> port;
  bool open = false;
  std::string path = default_path();
  int system_error = 0;
  std::string error_text;

  static std::string default_path() {
#ifdef _WIN32
    return "COM1";
#else
    return "/dev/ttyS0";
#endif
  }
};

SerialState& serial() {
  static SerialState state;
  return state;
}

// Written by the system's thread alone, so a plain load and store count a
// byte: no locked instruction on the path every byte takes.
std::atomic<uint64_t> bytes_read{0};
std::atomic<bool> in_use{false};
// Reads fail: the port is gone until it comes back (the system's thread).
bool port_lost = false;
// Connect to...: the device asked for, taken by the system's thread at its
// next read. The flag is looked at on every read: a plain load.
std::atomic<bool> switchable{false};
std::atomic<bool> switch_wanted{false};
std::mutex switch_mutex;
std::string switch_path;  // under switch_mutex

// The identity of the device that opened as COM1 (device_identity.h), on
// the system's thread. `pending`: the next device that opens is taken as
// COM1's, whatever it is (the operator chose the path, and it has not
// opened yet).
IdentityLookup identity_lookup;
DeviceIdentity identity;
bool identity_pending = false;
std::string refused;      // the other device last refused at the path
bool unchecked_said = false;  // the log said its identity cannot be checked

void remember_identity() {
  identity = identity_lookup ? identity_lookup(serial().path) : DeviceIdentity{};
  identity_pending = false;
  refused.clear();
  unchecked_said = false;
}

// Before a lost port is reopened: only the device that was lost, or one
// whose identity cannot be told (then as before: the path decides).
bool reopen_allowed(std::string* why) {
  if (!identity_lookup || identity_pending || !identity.known()) return true;
  const DeviceIdentity now = identity_lookup(serial().path);
  // Nothing there yet: the open fails on its own, with its reason.
  if (!now.present || same_device(identity, now)) return true;
  const std::string& path = serial().path;
  *why = "another device at " + path + " (" + now.text() + "), not the one that was lost (" +
         identity.text() + ")";
  if (now.text() != refused) {
    refused = now.text();
    watch_port_foreign(path, identity.text(), now.text());
  }
  return false;
}

std::function<void(const std::string&)>& opened_observer() {
  static std::function<void(const std::string&)> observer;
  return observer;
}

void tell_opened(const std::string& device) {
  if (opened_observer()) opened_observer()(device);
}

void port_back() {
  port_lost = false;
  if (identity_pending) remember_identity();
  std::string note;
  if (identity_lookup && !identity.known() && !unchecked_said) {
    unchecked_said = true;
    note = "its identity cannot be checked (it tells no serial number or USB ids, as a pseudo-terminal or a "
           "built-in port): whatever device is at " + serial().path + " now is read";
  }
  refused.clear();
  watch_port_returned(serial().path, note);
  tell_opened(serial().path);
}

// A read that returned no byte: a time-out, or the port failing.
void read_failed(ComPort* p, int got) {
  SerialState& s = serial();
  if (got != COM_ERR_TIMEOUT) {
    // A failing link: keep its reason for whoever reports it.
    s.system_error = p->system_error();
    s.error_text = p->error_text();
    if (!port_lost) {
      port_lost = true;
      watch_port_lost(s.path, s.error_text);
    }
  } else if (port_lost && !p->lost()) {
    // A time-out on a port that is open again: it is back, only silent.
    port_back();
  }
}

// The receiver's frame attempt ends with a read that returned no byte.
void link_read_failed() {
  for (SessionObserver* o : session_observers()) o->link_read_failed();
}

// Ends a wait on the port early: a quit, or a device switch asked for.
bool port_interrupted() { return quit_pending() || switch_wanted.load(std::memory_order_relaxed); }

// Makes the switch asked for: the read that meets it fails once, as a lost
// port's would, and the next ones read the new device.
int switch_device(ComPort* p) {
  std::string next;
  {
    std::lock_guard lock(switch_mutex);
    next = switch_path;
    switch_wanted.store(false);
  }
  SerialState& s = serial();
  const std::string was = s.path;
  set_com_path(next);
  const bool opened = p->switch_device(next) >= 0;
  // The operator's choice: its identity is the one to keep from now on.
  if (opened) remember_identity();
  else identity_pending = true;
  s.system_error = opened ? 0 : p->system_error();
  s.error_text = opened ? "" : p->error_text();
  // Not opened: lost until it opens, and its return is logged then.
  port_lost = !opened;
  watch_port_switched(was, next, s.error_text);
  if (opened) tell_opened(next);
  return COM_ERR_IO;
}

}  // namespace

void set_com_port(std::shared_ptr<ComPort> port) { serial().port = std::move(port); }
void set_device_identity_lookup(IdentityLookup lookup) { identity_lookup = std::move(lookup); }
void set_port_opened_observer(std::function<void(const std::string&)> observer) {
  opened_observer() = std::move(observer);
}
std::mutex& path_mutex() {
  static std::mutex mu;
  return mu;
}

void set_com_path(const std::string& path) {
  std::lock_guard lock(path_mutex());
  serial().path = path;
}
bool request_com_switch(const std::string& device) {
  if (!switchable.load() || device.empty()) return false;
  std::lock_guard lock(switch_mutex);
  switch_path = device;
  switch_wanted.store(true);
  return true;
}
bool com_switchable() { return switchable.load(); }
bool com_in_use() { return in_use.load(); }
std::string com_device() {
  std::lock_guard lock(path_mutex());
  return serial().path;
}
const std::string& com_path() { return serial().path; }
uint64_t com_bytes_read() { return bytes_read.load(std::memory_order_relaxed); }

void reset_serial_for_tests() {
  SerialState& s = serial();
  if (s.port && s.open) s.port->close();
  s = SerialState{};
  bytes_read.store(0);
  in_use.store(false);
  port_lost = false;
  switchable.store(false);
  switch_wanted.store(false);
  identity_lookup = nullptr;
  identity = DeviceIdentity{};
  identity_pending = false;
  refused.clear();
  unchecked_said = false;
}

}  // namespace rt

using namespace rt;

namespace {

// Only port 1 exists: the telemetry link.
ComPort* port_for(int port) {
  SerialState& s = serial();
  return port == 1 && s.open ? s.port.get() : nullptr;
}

}  // namespace

int OpenComConfig(int port, const char* device, long baud, int parity, int data_bits,
                  int stop_bits, int input_queue, int output_queue) {
  (void)input_queue;  // the backend's own buffering stands for both queues
  (void)output_queue;
  SerialState& s = serial();
  int result = COM_ERR_OPEN_FAILED;
  if (port != 1) {
    s.system_error = 0;
    s.error_text = "port " + std::to_string(port) + " does not exist (only port 1)";
  } else if (!s.port) {
    // The program installs its port at start-up (run.cpp); a build or a
    // test without one has no serial port to open.
    s.system_error = 0;
    s.error_text = "no serial port backend installed";
  } else {
    // A quit cuts the port's waits short: a silent link, a stream that never
    // pauses and a vanished device all let the service loop reach the quit.
    // A device switch asked for (Connect to...) cuts them short too.
    s.port->set_interrupt(port_interrupted);
    s.port->set_reopen_check(reopen_allowed);
    result = s.port->open(s.path, baud, parity, data_bits, stop_bits);
    s.open = result >= 0;
    in_use.store(s.open);
    switchable.store(s.open && s.port->can_switch());
    s.system_error = s.open ? 0 : s.port->system_error();
    s.error_text = s.open ? "" : s.port->error_text();
    if (s.open) {
      remember_identity();
      watch_port_opened();
      tell_opened(s.path);
    }
  }
  if (tracing()) {
    trace_emit(JsonLine("OpenComConfig").add("port", port).add("device", device)
                   .add("path", s.path).add("baud", baud).add("parity", parity)
                   .add("data", data_bits).add("stop", stop_bits).add("result", result));
  }
  return result;
}

int SetComTime(int port, double timeout_s) {
  if (tracing()) trace_emit(JsonLine("SetComTime").add("port", port).add("seconds", timeout_s));
  ComPort* p = port_for(port);
  if (!p) return COM_ERR_NOT_OPEN;
  p->set_timeout(timeout_s);
  return 0;
}

int ComRdByte(int port) {
  ComPort* p = port_for(port);
  if (!p) return COM_ERR_NOT_OPEN;
  if (switch_wanted.load(std::memory_order_relaxed)) [[unlikely]] {
    link_read_failed();
    return switch_device(p);
  }
  const int got = p->read_byte();
  if (got >= 0) {
    // The path every byte takes: a count, and flags that are almost never set.
    bytes_read.store(bytes_read.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    if (port_lost) [[unlikely]] port_back();
    return got;
  }
  // The wait was cut short for a switch.
  if (switch_wanted.load(std::memory_order_relaxed)) {
    link_read_failed();
    return switch_device(p);
  }
  read_failed(p, got);
  link_read_failed();
  return got;
}

int ComWrtByte(int port, int byte) {
  unsigned char b = static_cast<unsigned char>(byte);
  if (tracing()) trace_emit(JsonLine("ComWrtByte").add_hex("hex", &b, 1));
  ComPort* p = port_for(port);
  const int result = p ? p->write(&b, 1) : COM_ERR_NOT_OPEN;
  watch_sent(&b, 1, result == 1);
  return result;
}

int ComWrt(int port, const char* buffer, int count) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(buffer);
  if (tracing()) trace_emit(JsonLine("ComWrt").add_hex("hex", bytes, count < 0 ? 0 : count));
  ComPort* p = port_for(port);
  if (!p || count < 0) return COM_ERR_NOT_OPEN;
  const int result = p->write(bytes, count);
  watch_sent(bytes, count, result == count);
  return result;
}

int CloseCom(int port) {
  if (tracing()) trace_emit(JsonLine("CloseCom").add("port", port));
  SerialState& s = serial();
  ComPort* p = port_for(port);
  if (!p) return COM_ERR_NOT_OPEN;
  p->close();
  s.open = false;
  in_use.store(false);
  switchable.store(false);
  switch_wanted.store(false);
  return 0;
}

int ComSystemError() { return serial().system_error; }
const char* ComErrorText() { return serial().error_text.c_str(); }
