// The port chooser: the serial ports the system reports (device, description,
// manufacturer, serial number), listed again every PORT_REFRESH_MS so that an
// adapter plugged in or pulled out shows up while it is open, and a field for
// the device path (a port the system does not list, such as a
// pseudo-terminal, is typed in). The choice, once it has opened, is
// remembered in the settings and is the default device for the next live
// start. GUI thread only.
#pragma once

#include <QDialog>
#include <QList>
#include <QString>

#include <functional>

class QLabel;
class QLineEdit;
class QTableWidget;
class QTimer;

namespace rt {

constexpr int PORT_REFRESH_MS = 1000;

struct PortEntry {
  QString device;  // the path to open: /dev/ttyUSB0, COM3
  QString description;
  QString manufacturer;
  QString serial_number;
};
// Lists the ports now. The program's lists QSerialPortInfo; tests inject
// their own.
using PortLister = std::function<QList<PortEntry>()>;
PortLister system_port_lister();

// The device chosen last that opened (empty when none was).
QString remembered_port();
void remember_port(const QString& device);
// A device chosen in the chooser is remembered only once it has opened: the
// choice waits here until port_opened() names it (a device that never opens
// is never the next start's default).
void remember_port_once_open(const QString& device);
void port_opened(const QString& device);

class PortChooser : public QDialog {
 public:
  // `reason`: why it is shown (the failure, or empty for Connect to...);
  // `current`: the device COM1 stands for now, preselected; `accept_text`:
  // the accepting button ("Retry", "Connect").
  PortChooser(const QString& reason, const QString& current, const QString& accept_text, PortLister lister,
              QWidget* parent = nullptr);

  // The device in the field (the row chosen, or what was typed).
  QString device() const;
  // The devices listed now, in the list's order.
  QStringList listed() const;
  // Lists the ports again (the timer does it every PORT_REFRESH_MS).
  void refresh();

 private:
  PortLister lister_;
  QLabel* reason_ = nullptr;     // "portReason"
  QTableWidget* table_ = nullptr;  // "portList"
  QLineEdit* device_ = nullptr;  // "portDevice"
  QTimer* timer_ = nullptr;
  QList<PortEntry> shown_;
};

}  // namespace rt
