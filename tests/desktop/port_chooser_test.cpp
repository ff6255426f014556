// The port chooser on an injected list of ports and a real pseudo-terminal,
// in Qt's offscreen platform.
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

#include "gui/desktop/port_chooser.h"
#include "gui/desktop/startup_dialogs.h"
#include "gui/desktop/dialogs.h"
#include "support/files.h"
#include "support/pty.h"

namespace {

using rt::PortChooser;
using rt::PortEntry;

// A port list the test changes as adapters come and go.
struct FakePorts {
  QList<PortEntry> ports;
  rt::PortLister lister() {
    return [this] { return ports; };
  }
};

const PortEntry USB0{"/dev/ttyUSB0", "FT232R USB UART", "FTDI", "A10K3X"};
const PortEntry ACM0{"/dev/ttyACM0", "CDC device", "Prolific", "0042"};

TEST(PortChooser, offers_exactly_the_ports_reported_and_follows_them) {
  FakePorts fake;
  fake.ports = {USB0, ACM0};
  PortChooser chooser("", "", "Connect", fake.lister());
  EXPECT_EQ(chooser.listed(), (QStringList{"/dev/ttyUSB0", "/dev/ttyACM0"}));
  auto* table = chooser.findChild<QTableWidget*>("portList");
  ASSERT_TRUE(table);
  ASSERT_EQ(table->columnCount(), 4);
  EXPECT_EQ(table->item(0, 1)->text(), "FT232R USB UART");
  EXPECT_EQ(table->item(0, 2)->text(), "FTDI");
  EXPECT_EQ(table->item(0, 3)->text(), "A10K3X");

  // Pulled out, and another plugged in: the next listing shows it.
  fake.ports = {ACM0};
  chooser.refresh();
  EXPECT_EQ(chooser.listed(), QStringList{"/dev/ttyACM0"});
  fake.ports = {ACM0, USB0};
  chooser.refresh();
  EXPECT_EQ(chooser.listed(), (QStringList{"/dev/ttyACM0", "/dev/ttyUSB0"}));

  // Choosing a row puts its device in the field.
  table->selectRow(1);
  EXPECT_EQ(chooser.device(), "/dev/ttyUSB0");
}

// Connect to... opens on the device in use: its row is the one selected.
TEST(PortChooser, the_current_device_is_the_row_selected) {
  FakePorts fake;
  fake.ports = {USB0, ACM0};
  PortChooser chooser("", "/dev/ttyACM0", "Connect", fake.lister());
  const auto selected = chooser.findChild<QTableWidget*>("portList")->selectedItems();
  ASSERT_FALSE(selected.isEmpty());
  EXPECT_EQ(selected.first()->row(), 1);
  EXPECT_EQ(chooser.device(), "/dev/ttyACM0");
}

TEST(PortChooser, the_timer_lists_a_newly_plugged_adapter) {
  FakePorts fake;
  PortChooser chooser("", "", "Connect", fake.lister());
  EXPECT_TRUE(chooser.listed().isEmpty());
  fake.ports = {USB0};
  EXPECT_TRUE(QTest::qWaitFor([&] { return chooser.listed() == QStringList{"/dev/ttyUSB0"}; }, 10000));
}

// A pseudo-terminal is not among the system's serial ports: it is typed in,
// and the list change does not overwrite what was typed.
TEST(PortChooser, a_pty_is_typed_in_and_kept) {
  testing_pty::InstrumentPty pty;
  const QString path = QString::fromStdString(pty.slave_path());
  for (const PortEntry& p : rt::system_port_lister()()) EXPECT_NE(p.device, path);
  FakePorts fake;
  fake.ports = {USB0};
  PortChooser chooser("", "/dev/ttyS0", "Retry", fake.lister());
  EXPECT_EQ(chooser.device(), "/dev/ttyS0") << "the current device is offered first";
  EXPECT_TRUE(chooser.findChild<QTableWidget*>("portList")->selectedItems().isEmpty()) << "it is not listed";
  chooser.findChild<QLineEdit*>("portDevice")->setText(path);
  fake.ports = {USB0, ACM0};
  chooser.refresh();
  EXPECT_EQ(chooser.device(), path);
}

// A port that cannot be opened: the reason is shown, Retry returns the
// device chosen (and remembers it for the next start), Cancel ends.
TEST(PortChooser, startup_failure_offers_retry_and_remembers_the_choice) {
  FakePorts fake;
  fake.ports = {USB0};
  struct Case {
    const char* name;
    bool accept;
  };
  for (const Case c : {Case{"retry", true}, Case{"cancel", false}}) {
    rt::remember_port("");
    QString text;
    rt::set_dialog_answerer([&](QDialog* d) {
      text = rt::dialog_text(d);
      d->findChild<QLineEdit*>("portDevice")->setText("/dev/ttyUSB0");
      return c.accept;
    });
    QString device;
    const bool retry = rt::tell_startup_failure(rt::StartupFailure::Port, "/dev/ttyS9", "No such file or directory",
                                                &device, fake.lister());
    rt::set_dialog_answerer(nullptr);
    EXPECT_TRUE(text.contains("COM1 (/dev/ttyS9) cannot be opened: No such file or directory")) << c.name;
    EXPECT_EQ(retry, c.accept) << c.name;
    EXPECT_EQ(device, c.accept ? "/dev/ttyUSB0" : "") << c.name;
    // Remembered only once it has opened: another device opening, or none,
    // leaves the old default.
    EXPECT_EQ(rt::remembered_port(), "") << c.name << ": not opened yet";
    rt::port_opened("/dev/ttyS9");
    EXPECT_EQ(rt::remembered_port(), "") << c.name << ": another device opened";
    rt::port_opened("/dev/ttyUSB0");
    EXPECT_EQ(rt::remembered_port(), c.accept ? "/dev/ttyUSB0" : "") << c.name << ": the chosen one opened";
  }
}

}  // namespace

namespace {

// A picture for a person to look at: the chooser after a failed start, with
// two adapters listed (bin/port_chooser.png), and the window's File menu
// (bin/desktop_file_menu.png is made by the menus test).
TEST(PortChooser, picture_of_the_chooser) {
  FakePorts fake;
  fake.ports = {USB0, ACM0};
  PortChooser chooser("COM1 (/dev/ttyS0) cannot be opened: No such file or directory.", "/dev/ttyS0", "Retry",
                      fake.lister());
  chooser.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&chooser));
  const std::string out = testing_files::bin_dir() + "/port_chooser.png";
  EXPECT_TRUE(chooser.grab().save(QString::fromStdString(out))) << out;
}

}  // namespace
