// The serial run-time over the QSerialPort backend and a real
// pseudo-terminal pair: the test plays the instrument on the master side.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/pty.h"
#include "runtime/com_port.h"
#include "runtime/device_identity.h"
#include "runtime/qt/serial_port.h"
#include "runtime/session_watch.h"
#include "session/session_log.h"
#include "runtime/serial.h"
#include "support/files.h"
#include "support/process.h"

namespace {

using Clock = std::chrono::steady_clock;
using Pty = testing_pty::InstrumentPty;

constexpr int PORT = 1;
constexpr double TIMEOUT_S = 1.05;
// Generous bounds on a 1.05 s time-out, which hold on a loaded machine:
// never a timing benchmark.
constexpr double TIMEOUT_MIN_S = 0.9;
constexpr double TIMEOUT_MAX_S = 10.0;

int open_com1(const std::string& path) {
  rt::set_com_path(path);
  return OpenComConfig(PORT, "COM1", 19200, 0, 8, 1, 0, 0);
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<uint8_t> every_byte_value() {
  std::vector<uint8_t> bytes(256);
  for (int i = 0; i < 256; ++i) bytes[i] = static_cast<uint8_t>(i);
  return bytes;
}

// Reads up to n bytes, stopping at the first failed read.
std::vector<uint8_t> read_bytes(size_t n) {
  std::vector<uint8_t> got;
  while (got.size() < n) {
    const int byte = ComRdByte(PORT);
    if (byte < 0) break;
    got.push_back(static_cast<uint8_t>(byte));
  }
  return got;
}

class SerialPty : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::reset_serial_for_tests();
    port_ = rt::make_qt_serial_port();
    rt::set_com_port(port_);
  }
  void TearDown() override {
    CloseCom(PORT);
    rt::reset_serial_for_tests();
  }
  std::shared_ptr<rt::ComPort> port_;  // the backend under test, for its error state
};

TEST_F(SerialPty, opens_the_line_at_19200_8N1_raw_without_flow_control) {
  Pty pty;
  // A second descriptor on the slave, opened before the port locks it.
  const int slave_fd = ::open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(slave_fd, 0) << pty.slave_path();
  ASSERT_EQ(open_com1(pty.slave_path()), 0) << ComErrorText();

  termios tio{};
  ASSERT_EQ(tcgetattr(slave_fd, &tio), 0);
  ::close(slave_fd);
  EXPECT_EQ(cfgetispeed(&tio), static_cast<speed_t>(B19200)) << "input speed";
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B19200)) << "output speed";
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8)) << "8 data bits";
  EXPECT_EQ(tio.c_cflag & PARENB, 0u) << "no parity";
  EXPECT_EQ(tio.c_cflag & CSTOPB, 0u) << "1 stop bit";
  EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u) << "no hardware flow control";
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u) << "no software flow control";
  EXPECT_EQ(tio.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP), 0u) << "input bytes unchanged";
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u) << "raw, no echo";
  EXPECT_EQ(tio.c_oflag & OPOST, 0u) << "output bytes unchanged";
}

TEST_F(SerialPty, every_byte_value_crosses_unchanged_both_ways) {
  Pty pty;
  ASSERT_EQ(open_com1(pty.slave_path()), 0) << ComErrorText();
  SetComTime(PORT, TIMEOUT_S);
  const std::vector<uint8_t> all = every_byte_value();  // CR, LF, XON, XOFF, 0x00, 0xFF among them

  pty.send(all);
  EXPECT_EQ(read_bytes(all.size()), all) << "instrument to station";

  ASSERT_EQ(ComWrt(PORT, reinterpret_cast<const char*>(all.data()), 256), 256);
  EXPECT_EQ(pty.receive(all.size(), std::chrono::seconds(3)), all) << "station to instrument";
}

TEST_F(SerialPty, byte_sent_during_a_wait_ends_that_wait) {
  Pty pty;
  ASSERT_EQ(open_com1(pty.slave_path()), 0) << ComErrorText();
  // A long time-out, so a sender slowed by a loaded machine still sends
  // during the wait.
  constexpr double LONG_TIMEOUT_S = 20.0;
  SetComTime(PORT, LONG_TIMEOUT_S);
  std::thread instrument([&pty] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    pty.send({0xEB});
  });
  const auto start = Clock::now();
  const int byte = ComRdByte(PORT);
  const double took_s = seconds_since(start);
  instrument.join();
  EXPECT_EQ(byte, 0xEB);
  EXPECT_LT(took_s, LONG_TIMEOUT_S / 2) << "the byte ended the wait, not the time-out";
}

TEST_F(SerialPty, read_with_nothing_sent_fails_after_the_timeout) {
  Pty pty;
  ASSERT_EQ(open_com1(pty.slave_path()), 0) << ComErrorText();
  SetComTime(PORT, TIMEOUT_S);
  for (int attempt = 1; attempt <= 2; ++attempt) {  // the second checks the error was cleared
    const auto start = Clock::now();
    const int result = ComRdByte(PORT);
    const double took_s = seconds_since(start);
    EXPECT_LT(result, 0) << "read " << attempt;
    EXPECT_GE(took_s, TIMEOUT_MIN_S) << "read " << attempt;
    EXPECT_LE(took_s, TIMEOUT_MAX_S) << "read " << attempt;
  }
  // A time-out is not a port failure: no error is kept and the port still works.
  EXPECT_EQ(port_->system_error(), 0) << port_->error_text();
  pty.send({0x5A});
  EXPECT_EQ(ComRdByte(PORT), 0x5A);
}

TEST_F(SerialPty, zero_timeout_still_returns_a_byte_that_has_come) {
  Pty pty;
  // A second descriptor on the slave, opened before the port locks it,
  // shows when the tty has delivered the byte.
  const int slave_fd = ::open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(slave_fd, 0) << pty.slave_path();
  ASSERT_EQ(open_com1(pty.slave_path()), 0) << ComErrorText();
  SetComTime(PORT, 0.0);
  pty.send({0x42});
  const bool delivered = testing_process::wait_until(10.0, [&] {
    int waiting = 0;
    return ::ioctl(slave_fd, FIONREAD, &waiting) == 0 && waiting > 0;
  });
  ::close(slave_fd);
  ASSERT_TRUE(delivered) << "the tty never delivered the byte";
  EXPECT_EQ(ComRdByte(PORT), 0x42) << "byte waiting in the device";
  EXPECT_LT(ComRdByte(PORT), 0) << "nothing left";
}

TEST_F(SerialPty, missing_device_is_refused_with_enoent_and_its_name) {
  testing_files::TempDir dir;
  const std::string missing = dir.file("no-such-tty");
  const auto start = Clock::now();
  EXPECT_LT(open_com1(missing), 0);
  EXPECT_LT(seconds_since(start), TIMEOUT_MAX_S) << "a refused open does not wait";
  EXPECT_EQ(ComSystemError(), ENOENT);
  EXPECT_NE(std::string(ComErrorText()).find(missing), std::string::npos) << ComErrorText();
}

// Another station has the device (its lock file holds it): the reason
// names the lock file and its holder, not a "permission error".
TEST_F(SerialPty, a_device_held_by_another_program_names_its_lock_file) {
  Pty pty;
  auto other_station = rt::make_qt_serial_port();
  ASSERT_EQ(other_station->open(pty.slave_path(), 19200, 0, 8, 1), 0) << other_station->error_text();
  EXPECT_LT(open_com1(pty.slave_path()), 0);
  const std::string reason = ComErrorText();
  EXPECT_NE(reason.find("cannot open " + pty.slave_path() + ": in use by another program (lock file "),
            std::string::npos)
      << reason;
  EXPECT_NE(reason.find("LCK.."), std::string::npos) << reason;
  EXPECT_NE(reason.find(", process " + std::to_string(::getpid())), std::string::npos) << reason;
  other_station->close();
  EXPECT_EQ(open_com1(pty.slave_path()), 0) << "free again: " << ComErrorText();
}

TEST_F(SerialPty, works_on_a_thread_without_an_event_loop) {
  Pty pty;
  pty.send({0x01, 0x02});
  std::vector<uint8_t> got;
  int open_status = -1;
  int written = -1;
  std::thread system_thread([&] {
    open_status = open_com1(pty.slave_path());
    if (open_status != 0) return;
    SetComTime(PORT, TIMEOUT_S);
    got = read_bytes(2);
    written = ComWrt(PORT, "RCVD\r", 5);
    CloseCom(PORT);
  });
  system_thread.join();
  ASSERT_EQ(open_status, 0) << ComErrorText();
  EXPECT_EQ(got, (std::vector<uint8_t>{0x01, 0x02}));
  EXPECT_EQ(written, 5);
  EXPECT_EQ(pty.receive(5, std::chrono::seconds(3)),
            (std::vector<uint8_t>{'R', 'C', 'V', 'D', '\r'}));
}

// The --port path is a symlink, as a udev name for a USB adapter would be:
// the adapter is pulled out (the master closes) and later comes back as a
// new device behind the same name.
TEST_F(SerialPty, vanished_port_fails_once_per_timeout_and_resumes_when_it_returns) {
  testing_files::TempDir dir;
  const std::string link = dir.file("ttyGSE");
  auto first = std::make_unique<Pty>();
  std::filesystem::create_symlink(first->slave_path(), link);
  ASSERT_EQ(open_com1(link), 0) << ComErrorText();
  SetComTime(PORT, TIMEOUT_S);
  first->send({0x11});
  ASSERT_EQ(ComRdByte(PORT), 0x11);

  // The device goes, and its path with it (as a pulled USB adapter's does):
  // the freed pty number may be handed to another test's pty meanwhile.
  first->hang_up();
  std::filesystem::remove(link);
  int reads = 0;
  const std::clock_t cpu_start = std::clock();
  const auto start = Clock::now();
  while (seconds_since(start) < 3.0) {
    const auto read_start = Clock::now();
    const int result = ComRdByte(PORT);
    const double took_s = seconds_since(read_start);
    ++reads;
    ASSERT_LT(result, 0) << "read " << reads << " after the hang-up";
    ASSERT_GE(took_s, TIMEOUT_MIN_S) << "read " << reads << " failed before the time-out";
  }
  const double cpu_s = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
  EXPECT_LE(reads, 4) << "no busy loop on a vanished port";
  EXPECT_LT(cpu_s, 1.0) << "waits, not spins, while the port is gone";
  EXPECT_NE(port_->system_error(), 0);
  EXPECT_NE(port_->error_text().find(link), std::string::npos) << port_->error_text();

  Pty second;
  std::filesystem::create_symlink(second.slave_path(), link);
  second.send({0xEB, 0x90, 0x0D});
  EXPECT_EQ(read_bytes(3), (std::vector<uint8_t>{0xEB, 0x90, 0x0D})) << "reception resumes";
  ASSERT_EQ(ComWrt(PORT, "RCVD\r", 5), 5);
  EXPECT_EQ(second.receive(5, std::chrono::seconds(3)),
            (std::vector<uint8_t>{'R', 'C', 'V', 'D', '\r'}));
}

// The same name comes back, but the device behind it is another adapter
// (its serial number differs: a renumbered or second USB adapter, here
// given to the port by the identity the test injects). Nothing it sends is
// read, the health names it, and it is read once the operator chooses it
// with Connect to...; the device that was lost is read again when it comes
// back itself.
TEST(DeviceIdentity, an_adapter_is_the_same_only_by_its_ids_and_serial_number) {
  auto usb = [](uint16_t vendor, uint16_t product, const char* serial) {
    rt::DeviceIdentity id;
    id.present = id.has_ids = true;
    id.vendor_id = vendor;
    id.product_id = product;
    id.serial_number = serial;
    return id;
  };
  rt::DeviceIdentity none;  // a pseudo-terminal, a built-in port
  none.present = true;
  rt::DeviceIdentity serial_only = none;
  serial_only.serial_number = "A10K3XYZ";
  const rt::DeviceIdentity ftdi = usb(0x0403, 0x6001, "A10K3XYZ");
  struct Case {
    const char* name;
    rt::DeviceIdentity was, now;
    bool same;
  };
  const Case cases[] = {
      {"the same adapter", ftdi, ftdi, true},
      {"another serial number", ftdi, usb(0x0403, 0x6001, "B7QQ0001"), false},
      {"another product of the maker", usb(0x0403, 0x6001, ""), usb(0x0403, 0x6015, ""), false},
      {"two of one make without serial numbers", usb(0x1a86, 0x7523, ""), usb(0x1a86, 0x7523, ""), true},
      {"the same serial number, ids only now", serial_only, ftdi, false},
      {"now tells nothing", ftdi, none, false},
      {"told nothing, tells nothing", none, none, true},
  };
  for (const Case& c : cases) EXPECT_EQ(rt::same_device(c.was, c.now), c.same) << c.name;
  rt::DeviceIdentity described = ftdi;
  described.description = "FT232R USB UART";
  EXPECT_EQ(described.text(), "USB 0403:6001 serial A10K3XYZ (FT232R USB UART)");
  EXPECT_EQ(usb(0x1a86, 0x7523, "").text(), "USB 1a86:7523 (no serial number)");
  EXPECT_EQ(none.text(), "no identity");
}

TEST_F(SerialPty, another_device_at_a_returning_path_is_not_read_until_chosen) {
  rt::reset_session_for_tests();
  rt::reset_log_for_tests();
  testing_files::TempDir dir;
  const std::string link = dir.file("ttyUSB0");
  std::string serial = "A10K3XYZ";  // behind the link now; "" while nothing is there
  rt::set_device_identity_lookup([&](const std::string& path) {
    rt::DeviceIdentity id;
    id.present = path == link && std::filesystem::exists(link);
    id.has_ids = id.present;
    id.vendor_id = 0x0403;
    id.product_id = 0x6001;
    id.serial_number = id.present ? serial : "";
    return id;
  });
  auto first = std::make_unique<Pty>();
  std::filesystem::create_symlink(first->slave_path(), link);
  ASSERT_EQ(open_com1(link), 0) << ComErrorText();
  SetComTime(PORT, TIMEOUT_S);
  first->send({0x11});
  ASSERT_EQ(ComRdByte(PORT), 0x11);

  first->hang_up();
  std::filesystem::remove(link);
  EXPECT_LT(ComRdByte(PORT), 0) << "lost";
  EXPECT_LT(ComRdByte(PORT), 0) << "nothing at the path";
  EXPECT_EQ(port_->error_text().find("another device"), std::string::npos) << port_->error_text();
  Pty other;
  serial = "B7QQ0001";
  std::filesystem::create_symlink(other.slave_path(), link);
  other.send({0xEB, 0x90});
  for (int read = 0; read < 3; ++read) EXPECT_LT(ComRdByte(PORT), 0) << "read " << read << " of the other device";
  EXPECT_NE(port_->error_text().find("another device at " + link), std::string::npos) << port_->error_text();
  EXPECT_EQ(rt::watch_health().reason, "another device at " + link);
  int warned = 0;
  for (const auto& e : rt::log_entries_since(0))
    warned += e.severity == rt::Severity::Warning && e.text.find("another device at " + link + ": USB 0403:6001 serial "
                                                                 "B7QQ0001") == 0;
  EXPECT_EQ(warned, 1) << "said once, however many reads meet it";

  // The operator chooses it: from then on it is COM1's device.
  ASSERT_TRUE(rt::request_com_switch(link));
  EXPECT_LT(ComRdByte(PORT), 0) << "the switch fails one read, as a lost port's";
  EXPECT_EQ(read_bytes(2), (std::vector<uint8_t>{0xEB, 0x90})) << "read once chosen";

  // And now the first one is the stranger.
  other.hang_up();
  std::filesystem::remove(link);
  EXPECT_LT(ComRdByte(PORT), 0);
  Pty again;
  serial = "A10K3XYZ";
  std::filesystem::create_symlink(again.slave_path(), link);
  again.send({0x5A});
  EXPECT_LT(ComRdByte(PORT), 0) << "not the chosen device";
  serial = "B7QQ0001";  // the chosen one's identity back at the path
  EXPECT_EQ(ComRdByte(PORT), 0x5A) << "the chosen device is read again when it comes back";
  rt::reset_session_for_tests();
  rt::reset_log_for_tests();
}

}  // namespace
