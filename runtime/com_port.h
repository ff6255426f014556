// The port object behind runtime/serial.h. The program uses a QSerialPort
// backend; unit tests install an in-memory one (memory_port.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace rt {

class ComPort {
 public:
  virtual ~ComPort() = default;
  // Opens `path` with the given line settings. Returns 0 or a negative status.
  virtual int open(const std::string& path, long baud, int parity, int data_bits,
                   int stop_bits) = 0;
  virtual void set_timeout(double timeout_s) = 0;
  // A byte 0..255, or a negative value once the time-out has passed.
  virtual int read_byte() = 0;
  // Returns the count written, or a negative value.
  virtual int write(const unsigned char* data, int n) = 0;
  virtual void close() = 0;
  // Asked every few milliseconds while a read or a write waits: once it
  // returns true (a quit is waiting), a read ends at once as a time-out
  // would and a write waits only briefly for the device to take its bytes.
  // Without one, waits run their whole time.
  virtual void set_interrupt(std::function<bool()> interrupted) { (void)interrupted; }
  // Asked before a port closed by a failure opens its device again: false
  // leaves it closed (the read fails as a lost port's does, with `*why` for
  // its error text), so a device that is not the one that was lost is never
  // read. Without one, the device is reopened whatever it is.
  virtual void set_reopen_check(std::function<bool(std::string* why)> check) { (void)check; }
  virtual int system_error() const = 0;
  virtual std::string error_text() const = 0;
  // True while the port is closed by a failure and not yet open again (a
  // read then waits out its time-out and tries to reopen it).
  virtual bool lost() const { return false; }
  // Whether the port can move to another device (switch_device).
  virtual bool can_switch() const { return false; }
  // Moves the port to `path` with the line settings it was opened with, as
  // if its device had vanished and `path` had come back in its place: bytes
  // already taken off the old device are still handed out first. Returns 0
  // when `path` opened, else a negative status (error_text says why) and the
  // port stays lost: every later read tries `path` again until it opens.
  virtual int switch_device(const std::string& path) {
    (void)path;
    return -2;  // COM_ERR_OPEN_FAILED: this port has one device only
  }
};

// The port that the next OpenComConfig uses: the program installs the
// QSerialPort backend at start-up, unit tests an in-memory port. Without
// one, OpenComConfig fails.
void set_com_port(std::shared_ptr<ComPort> port);
// The device that "COM1" stands for (--port).
// Set and read on the system's thread (or before it starts).
void set_com_path(const std::string& path);
const std::string& com_path();
// A copy of it for any other thread (the window's title and health bar).
std::string com_device();
// True from a successful OpenComConfig until CloseCom: a live link is in use
// (lost or not). Any thread.
bool com_in_use();

// Connect to...: moves COM1 to `device` during a live session. The switch is
// made on the system's thread, at its next ComRdByte (a read waiting on the
// old device ends at once): the old device is left, `device` is opened, and
// that read fails once, as when a port is lost, so the system starts a fresh
// frame while the recording goes on. A device that does not open counts as a
// lost port and is tried again by every later read until it opens. Logged
// ("Connect to NEW (was OLD)"). Returns false, and asks nothing, when no
// live link that can change device is open. Any thread.
bool request_com_switch(const std::string& device);
// True while a live link that can change device is open. Any thread.
bool com_switchable();

// Told on the system's thread each time COM1's device opens: at
// OpenComConfig, after a switch, and when a lost device comes back. The
// window remembers a port chosen in its port chooser only then.
void set_port_opened_observer(std::function<void(const std::string& device)> observer);

// Bytes that ComRdByte has returned since start-up (the drain's included).
// Counted on the system's thread without a lock; any thread may read it.
uint64_t com_bytes_read();

// Forgets the port and the error state (for tests).
void reset_serial_for_tests();

}  // namespace rt
