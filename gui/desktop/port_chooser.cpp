#include "gui/desktop/port_chooser.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSettings>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/layout.h"

namespace rt {

namespace {

const QString KEY_PORT = QStringLiteral("serial/lastPort");

bool same(const QList<PortEntry>& a, const QList<PortEntry>& b) {
  if (a.size() != b.size()) return false;
  for (qsizetype i = 0; i < a.size(); ++i)
    if (a[i].device != b[i].device || a[i].description != b[i].description ||
        a[i].manufacturer != b[i].manufacturer || a[i].serial_number != b[i].serial_number)
      return false;
  return true;
}

}  // namespace

PortLister system_port_lister() {
  return [] {
    QList<PortEntry> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
      ports.append({info.systemLocation(), info.description(), info.manufacturer(), info.serialNumber()});
    return ports;
  };
}

QString remembered_port() { return window_settings()->value(KEY_PORT).toString(); }
void remember_port(const QString& device) { window_settings()->setValue(KEY_PORT, device); }

namespace {
QString& chosen_not_yet_open() {
  static QString device;
  return device;
}
}  // namespace

void remember_port_once_open(const QString& device) { chosen_not_yet_open() = device; }

void port_opened(const QString& device) {
  if (chosen_not_yet_open().isEmpty() || device != chosen_not_yet_open()) return;
  remember_port(device);
  chosen_not_yet_open().clear();
}

PortChooser::PortChooser(const QString& reason, const QString& current, const QString& accept_text,
                         PortLister lister, QWidget* parent)
    : QDialog(parent), lister_(std::move(lister)) {
  setObjectName(QStringLiteral("portChooser"));
  setWindowTitle(QStringLiteral("Serial port for COM1"));
  auto* column = new QVBoxLayout(this);
  reason_ = new QLabel(reason);
  reason_->setObjectName(QStringLiteral("portReason"));
  reason_->setWordWrap(true);
  reason_->setVisible(!reason.isEmpty());
  column->addWidget(reason_);
  auto* hint = new QLabel(QStringLiteral("Choose the adapter of the telemetry link, or type the device's path. "
                                         "The list follows adapters as they are plugged in and out."));
  hint->setWordWrap(true);
  column->addWidget(hint);
  table_ = new QTableWidget(0, 4);
  table_->setObjectName(QStringLiteral("portList"));
  table_->setHorizontalHeaderLabels(
      {QStringLiteral("Device"), QStringLiteral("Description"), QStringLiteral("Manufacturer"),
       QStringLiteral("Serial number")});
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->verticalHeader()->hide();
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  column->addWidget(table_, 1);
  device_ = new QLineEdit(current);
  device_->setObjectName(QStringLiteral("portDevice"));
  device_->setPlaceholderText(QStringLiteral("/dev/ttyUSB0"));
  column->addWidget(device_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
  QPushButton* ok = buttons->addButton(accept_text, QDialogButtonBox::AcceptRole);
  ok->setObjectName(QStringLiteral("portAccept"));
  column->addWidget(buttons);
  // Enter takes the device in the field. (The button must be in the dialog
  // for this to hold: else the dialog makes Cancel its default.)
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(device_, &QLineEdit::textChanged, ok, [ok](const QString& t) { ok->setEnabled(!t.trimmed().isEmpty()); });
  ok->setEnabled(!current.trimmed().isEmpty());
  connect(table_, &QTableWidget::itemSelectionChanged, this, [this] {
    const int row = table_->currentRow();
    if (row >= 0 && row < shown_.size()) device_->setText(shown_[row].device);
  });
  connect(table_, &QTableWidget::cellDoubleClicked, this, [this] { accept(); });
  timer_ = new QTimer(this);
  timer_->setInterval(PORT_REFRESH_MS);
  connect(timer_, &QTimer::timeout, this, [this] { refresh(); });
  timer_->start();
  refresh();
  resize(640, 360);
  // Ready to type a path over the one that failed.
  device_->selectAll();
  device_->setFocus();
}

QString PortChooser::device() const { return device_->text().trimmed(); }

QStringList PortChooser::listed() const {
  QStringList devices;
  for (int row = 0; row < table_->rowCount(); ++row) devices << table_->item(row, 0)->text();
  return devices;
}

void PortChooser::refresh() {
  const QList<PortEntry> ports = lister_ ? lister_() : QList<PortEntry>{};
  if (same(ports, shown_)) return;
  shown_ = ports;
  // The field keeps what the operator typed or chose: only the list changes.
  const QSignalBlocker block(table_);
  table_->setRowCount(static_cast<int>(ports.size()));
  for (int row = 0; row < table_->rowCount(); ++row) {
    const PortEntry& p = ports[row];
    const QString cells[] = {p.device, p.description, p.manufacturer, p.serial_number};
    for (int col = 0; col < 4; ++col) table_->setItem(row, col, new QTableWidgetItem(cells[col]));
    if (p.device == device()) table_->selectRow(row);
  }
  table_->resizeColumnsToContents();
}

}  // namespace rt
