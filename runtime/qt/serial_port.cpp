// The QSerialPort backend of runtime/serial.h.
//
// The port is driven only through QSerialPort's blocking calls on the thread
// that uses it; no event loop is needed there. The QSerialPort object is made
// in open() and destroyed in close(), so it belongs to that thread.
//
// Failures: a read time-out is not a port error. A real error (the far end
// hung up, the adapter vanished) closes the port and is reported only once
// the read time-out has passed, so a caller that reads in a loop never spins.
// A read on a port closed by a failure first tries to open the same device
// again: reception resumes by itself when the device comes back (and the
// reopen check, serial.cpp, finds it is the same device). A switch to
// another device (Connect to...) is the same path: the old device is left as
// if it had failed, and the new one is the device that comes back.
//
// Nothing taken off the device is lost: QSerialPort reads ahead into its own
// buffer (at most READ_AHEAD_BYTES), and closing the port throws that buffer
// away. When a failure closes the port, the bytes still in it are kept and
// handed to the reader before the failure is reported. Only a close on
// purpose (the program's teardown) drops them: never more than the bound.
//
// Quit: every wait is cut into short slices and asks the interrupt between
// them, so a read ends at once when a quit is waiting.
#include "runtime/qt/serial_port.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QString>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "runtime/serial.h"

namespace rt {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int WRITE_WAIT_MS = 1000;  // bound on waiting for bytes to go out
// The same once a quit is waiting: the stop command gets a short chance to
// leave, and the program still ends at once.
constexpr int QUIT_WRITE_WAIT_MS = 200;
// Longest single wait between two looks at the interrupt.
constexpr int SLICE_MS = 20;
constexpr double MAX_TIMEOUT_S = 1e6;  // keeps the deadline arithmetic in range
// Bound on bytes taken from the device ahead of the reader: one frame. Beyond
// it they wait in the device's own queue, so a sender faster than the station
// holds it back, and a quit (which closes the port with them unread) drops no
// more than a frame's worth of what the station itself had taken.
constexpr qint64 READ_AHEAD_BYTES = 200;

int errno_of(QSerialPort::SerialPortError error) {
  switch (error) {
    case QSerialPort::DeviceNotFoundError:
      return ENOENT;
    case QSerialPort::PermissionError:
      return EACCES;
    case QSerialPort::OpenError:
      return EBUSY;
    default:
      return EIO;
  }
}

// The lock file another program holds on the device at `path` (QSerialPort
// and other serial programs lock a device with "LCK..NAME" in one of the
// usual lock folders), as "lock file /run/lock/LCK..ttyUSB0, process 4242
// vst_gse"; "" when none is there.
std::string lock_holder(const std::string& path) {
  QString name = QString::fromStdString(path);
  const QString canonical = QFileInfo(name).canonicalFilePath();
  QStringList names;
  for (QString n : {name, canonical}) {
    if (n.isEmpty()) continue;
    if (n.startsWith(QLatin1String("/dev/"))) n = n.mid(5);
    names << QStringLiteral("LCK..") + QString(n).replace(QLatin1Char('/'), QLatin1Char('_'))
          << QStringLiteral("LCK..") + QFileInfo(n).fileName();
  }
  for (const char* folder : {"/var/lock", "/run/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp",
                             "/var/tmp", "/var/lock/lockdev"}) {
    for (const QString& n : names) {
      QFile lock(QString::fromLatin1(folder) + QLatin1Char('/') + n);
      if (!lock.open(QIODevice::ReadOnly)) continue;
      // QLockFile's: the process id, the program's name, the host.
      const QList<QByteArray> lines = lock.read(256).split('\n');
      std::string holder = "lock file " + lock.fileName().toStdString();
      bool is_number = false;
      const qint64 pid = lines.value(0).trimmed().toLongLong(&is_number);
      if (is_number && pid > 0) holder += ", process " + std::to_string(pid);
      QString program = QString::fromLocal8Bit(lines.value(1).trimmed()).left(40);
      for (QChar& c : program)
        if (!c.isPrint()) c = QLatin1Char('?');
      if (!program.isEmpty()) holder += " " + program.toStdString();
      return holder;
    }
  }
  return "";
}

// Whole milliseconds left until `deadline`, rounded up so that a wait never
// ends before it; 0 once it has passed.
int ms_until(Clock::time_point deadline) {
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  const double ms = std::chrono::duration<double, std::milli>(left).count();
  return static_cast<int>(std::ceil(ms));
}

bool parity_of(int parity, QSerialPort::Parity* out) {
  switch (parity) {
    case 0: *out = QSerialPort::NoParity; return true;
    case 1: *out = QSerialPort::OddParity; return true;
    case 2: *out = QSerialPort::EvenParity; return true;
    case 3: *out = QSerialPort::MarkParity; return true;
    case 4: *out = QSerialPort::SpaceParity; return true;
    default: return false;
  }
}

class QtSerialPort : public ComPort {
 public:
  ~QtSerialPort() override { port_.reset(); }

  int open(const std::string& path, long baud, int parity, int data_bits,
           int stop_bits) override {
    close();
    path_ = path;
    configured_ = false;
    QSerialPort::Parity qt_parity = QSerialPort::NoParity;
    const bool settings_ok = baud > 0 && baud <= 0x7fffffff &&
                             parity_of(parity, &qt_parity) && data_bits >= 5 &&
                             data_bits <= 8 && (stop_bits == 1 || stop_bits == 2);
    if (!settings_ok) {
      fail(EINVAL, "cannot open " + path + ": unsupported line settings (baud " +
                       std::to_string(baud) + ", parity " + std::to_string(parity) +
                       ", " + std::to_string(data_bits) + " data bits, " +
                       std::to_string(stop_bits) + " stop bits)");
      return COM_ERR_OPEN_FAILED;
    }
    baud_ = static_cast<qint32>(baud);
    parity_ = qt_parity;
    data_bits_ = static_cast<QSerialPort::DataBits>(data_bits);
    stop_bits_ = stop_bits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop;
    configured_ = true;
    return open_configured() ? 0 : COM_ERR_OPEN_FAILED;
  }

  void set_timeout(double timeout_s) override {
    // Negative or NaN: no wait.
    timeout_s_ = timeout_s > 0.0 ? std::min(timeout_s, MAX_TIMEOUT_S) : 0.0;
  }

  int read_byte() override {
    const Clock::time_point deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(timeout_s_));
    // Bytes kept from a port that failed come first, before the failure.
    if (!salvaged_.empty()) return take_salvaged();
    if (!port_ || !port_->isOpen()) {
      // Closed by a failure: the device may have come back. Closed on purpose
      // (or never opened): nothing to read.
      if (!lost_ || !reopen_allowed() || !open_configured()) {
        if (!sleep_until(deadline)) return COM_ERR_TIMEOUT;
        return lost_ ? COM_ERR_IO : COM_ERR_NOT_OPEN;
      }
    }
    char byte = 0;
    // The device is asked at least once, so a zero time-out still sees bytes
    // that have already come. Bytes already read ahead are handed out even
    // while a quit waits; only a wait for more is cut short.
    for (bool asked = false;; asked = true) {
      if (port_->bytesAvailable() > 0 && port_->getChar(&byte)) {
        return static_cast<unsigned char>(byte);
      }
      const int wait_ms = ms_until(deadline);
      if (wait_ms == 0 && asked) {
        // The time-out has run out. One last look before saying so: on a
        // loaded machine this thread may have been held up past the
        // deadline while bytes came, and a time-out in the middle of a
        // frame drops that frame.
        if (port_->waitForReadyRead(0) && port_->bytesAvailable() > 0 && port_->getChar(&byte))
          return static_cast<unsigned char>(byte);
        port_->clearError();
        return COM_ERR_TIMEOUT;
      }
      if (interrupted()) return COM_ERR_TIMEOUT;
      if (port_->waitForReadyRead(std::min(wait_ms, SLICE_MS))) continue;
      const QSerialPort::SerialPortError error = port_->error();
      if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError) {
        port_->clearError();
        continue;  // the deadline decides whether to wait again
      }
      // The errno text of a hang-up is misleading: name what happened.
      lose("read failed: the device hung up or vanished");
      if (!salvaged_.empty()) return take_salvaged();
      if (!sleep_until(deadline)) return COM_ERR_TIMEOUT;
      return COM_ERR_IO;
    }
  }

  int write(const unsigned char* data, int n) override {
    if (n < 0 || (n > 0 && data == nullptr)) return COM_ERR_IO;
    if (!port_ || !port_->isOpen()) return lost_ ? COM_ERR_IO : COM_ERR_NOT_OPEN;
    if (n == 0) return 0;
    if (port_->write(reinterpret_cast<const char*>(data), n) != n) {
      lose("write failed (" + reason(port_->error()) + ")");
      return COM_ERR_IO;
    }
    const Clock::time_point start = Clock::now();
    for (;;) {
      // Hands the device what it takes now, without reading: a busy link
      // cannot hold the bytes back.
      port_->clearError();
      port_->flush();
      if (port_->bytesToWrite() == 0) return n;
      const int limit_ms = interrupted() ? QUIT_WRITE_WAIT_MS : WRITE_WAIT_MS;
      const int wait_ms = ms_until(start + std::chrono::milliseconds(limit_ms));
      // Bytes still queued after the wait go out with a later one.
      if (wait_ms == 0) return n;
      // The device takes no more for now, or it failed. QSerialPort's wait
      // reads what came in before it writes, and with its read-ahead full it
      // returns at once without writing: then let the reader catch up.
      if (port_->bytesAvailable() >= READ_AHEAD_BYTES) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(wait_ms, SLICE_MS)));
        continue;
      }
      if (port_->waitForBytesWritten(std::min(wait_ms, SLICE_MS))) continue;
      const QSerialPort::SerialPortError error = port_->error();
      if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError) continue;
      lose("write failed (" + reason(error) + ")");
      return COM_ERR_IO;
    }
  }

  void close() override {
    lost_ = false;
    salvaged_.clear();
    port_.reset();
  }

  void set_interrupt(std::function<bool()> interrupted) override {
    interrupted_ = std::move(interrupted);
  }
  void set_reopen_check(std::function<bool(std::string*)> check) override { reopen_check_ = std::move(check); }

  int system_error() const override { return system_error_; }
  std::string error_text() const override { return error_text_; }
  bool lost() const override { return lost_; }
  bool can_switch() const override { return true; }

  // The old device is left as a failure leaves it (its read-ahead kept for
  // the reader), and the new one stands in its place: a read on a lost port
  // tries it again until it opens.
  int switch_device(const std::string& path) override {
    if (!configured_) {
      fail(EINVAL, "cannot open " + path + ": the port was never opened");
      return COM_ERR_NOT_OPEN;
    }
    if (port_ && port_->isOpen()) {
      const QByteArray ahead = port_->readAll();
      salvaged_.insert(salvaged_.end(), ahead.begin(), ahead.end());
      port_->close();
    }
    path_ = path;
    lost_ = true;
    return open_configured() ? 0 : COM_ERR_OPEN_FAILED;
  }

 private:
  // Opens path_ with the remembered settings. On failure the port stays
  // closed and the reason is remembered.
  bool open_configured() {
    if (!port_) {
      // QSerialPort makes socket notifiers, which warn on a thread without an
      // event dispatcher (a plain std::thread). Making a QEventLoop gives the
      // thread one; it is never run: the blocking calls do not need it.
      if (QThread::currentThread()->eventDispatcher() == nullptr) QEventLoop give_dispatcher;
      port_ = std::make_unique<QSerialPort>();
      port_->setReadBufferSize(READ_AHEAD_BYTES);
    }
    port_->setPortName(QString::fromStdString(path_));
    port_->setBaudRate(baud_);
    port_->setParity(parity_);
    port_->setDataBits(data_bits_);
    port_->setStopBits(stop_bits_);
    port_->setFlowControl(QSerialPort::NoFlowControl);
    if (!port_->open(QIODevice::ReadWrite)) {
      const QSerialPort::SerialPortError error = port_->error();
      // Another program (a second station) holds the device's lock file:
      // say so, and which, rather than "Permission error while locking".
      const std::string holder = error == QSerialPort::PermissionError ? lock_holder(path_) : "";
      if (!holder.empty()) fail(EBUSY, "cannot open " + path_ + ": in use by another program (" + holder + ")");
      else fail(errno_of(error), "cannot open " + path_ + ": " + reason(error));
      port_->clearError();
      return false;
    }
    lost_ = false;
    system_error_ = 0;
    error_text_.clear();
    return true;
  }

  // A real port error: remember it and close the port, to be reopened by a
  // later read. What the port had already read ahead is kept for the reader.
  void lose(const std::string& what) {
    fail(EIO, path_ + ": " + what);
    const QByteArray ahead = port_->readAll();
    salvaged_.insert(salvaged_.end(), ahead.begin(), ahead.end());
    port_->close();
    lost_ = configured_;
  }

  int take_salvaged() {
    const unsigned char byte = salvaged_.front();
    salvaged_.pop_front();
    return byte;
  }

  bool interrupted() const { return interrupted_ && interrupted_(); }

  // A lost device may be opened again: the check says whether the device
  // now at the path is the one that was lost.
  bool reopen_allowed() {
    std::string why;
    if (!reopen_check_ || reopen_check_(&why)) return true;
    fail(EBUSY, why);
    return false;
  }

  // Sleeps until `deadline` in short slices. Returns false when the
  // interrupt cut it short.
  bool sleep_until(Clock::time_point deadline) const {
    for (;;) {
      if (interrupted()) return false;
      const int left_ms = ms_until(deadline);
      if (left_ms == 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left_ms, SLICE_MS)));
    }
  }

  std::string reason(QSerialPort::SerialPortError error) const {
    const std::string text = port_->errorString().toStdString();
    if (!text.empty()) return text;
    return "serial port error " + std::to_string(static_cast<int>(error));
  }

  void fail(int system_error, std::string text) {
    system_error_ = system_error;
    error_text_ = std::move(text);
  }

  std::unique_ptr<QSerialPort> port_;
  std::string path_;
  qint32 baud_ = 19200;
  QSerialPort::Parity parity_ = QSerialPort::NoParity;
  QSerialPort::DataBits data_bits_ = QSerialPort::Data8;
  QSerialPort::StopBits stop_bits_ = QSerialPort::OneStop;
  bool configured_ = false;  // open() was given valid settings
  bool lost_ = false;        // closed by a failure, not on purpose
  double timeout_s_ = 10.0;
  std::deque<unsigned char> salvaged_;  // read ahead before a failure closed the port
  std::function<bool()> interrupted_;
  std::function<bool(std::string*)> reopen_check_;
  int system_error_ = 0;
  std::string error_text_;
};

}  // namespace

std::shared_ptr<ComPort> make_qt_serial_port() { return std::make_shared<QtSerialPort>(); }

namespace {

// What a device says of itself goes into the log and the health bar:
// printable characters only, and not too many.
std::string printable(const QString& text) {
  constexpr int MAX_CHARS = 64;
  QString out;
  for (const QChar c : text.trimmed().left(MAX_CHARS)) out += c.isPrint() ? c : QLatin1Char('?');
  return out.toStdString();
}

}  // namespace

DeviceIdentity qt_device_identity(const std::string& path) {
  DeviceIdentity id;
  const QFileInfo file(QString::fromStdString(path));
  // A udev name (/dev/serial/by-id/...) is a link to the device itself.
  const QString device = file.exists() ? file.canonicalFilePath() : QString::fromStdString(path);
  id.present = file.exists();
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    if (info.systemLocation() != device && info.portName() != device) continue;
    id.present = true;
    id.serial_number = printable(info.serialNumber());
    id.has_ids = info.hasVendorIdentifier() && info.hasProductIdentifier();
    if (id.has_ids) {
      id.vendor_id = info.vendorIdentifier();
      id.product_id = info.productIdentifier();
    }
    id.description = printable(info.description());
    break;
  }
  return id;
}

}  // namespace rt
