// File > Connect to... in the real window (Qt's offscreen platform) over the
// QSerialPort backend and two real pseudo-terminals. The test plays the
// system's part on this thread: the real receiver reads COM1 and records
// what it reads.
#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gui/window_fixture.h"
#include "link/frame.h"
#include "link/receiver.h"
#include "runtime/com_port.h"
#include "gui/desktop/dialogs.h"
#include "runtime/qt/serial_port.h"
#include "runtime/serial.h"
#include "session/session_log.h"
#include "runtime/session_watch.h"
#include "support/frames.h"
#include "support/pty.h"

namespace {

using testing_extras::open_panel;
using testing_extras::WindowExtras;
using testing_frames::FrameBuilder;
using testing_frames::escape_for_link;

// Answers the chooser with `device` typed into its field.
struct ChooseDevice {
  explicit ChooseDevice(const std::string& device) {
    rt::set_dialog_answerer([this, device](QDialog* d) {
      seen.push_back(d->objectName().toStdString());
      d->findChild<QLineEdit*>("portDevice")->setText(QString::fromStdString(device));
      return true;
    });
  }
  ~ChooseDevice() { rt::set_dialog_answerer(nullptr); }
  std::vector<std::string> seen;
};

bool logged(const std::string& text) {
  for (const rt::LogEntry& e : rt::log_entries_since(0))
    if (e.text == text) return true;
  return false;
}

class ConnectTo : public WindowExtras {
 protected:
  void SetUp() override {
    WindowExtras::SetUp();
    rt::reset_serial_for_tests();
    rt::reset_log_for_tests();
    rt::reset_session_for_tests();
    receiver_reset_for_tests();
  }
  void TearDown() override {
    receiver_attach_recording(nullptr);
    CloseCom(1);
    rt::reset_serial_for_tests();
    rt::reset_log_for_tests();
    WindowExtras::TearDown();
  }
};

TEST_F(ConnectTo, switches_the_live_link_to_another_pty_and_the_recording_goes_on) {
  testing_pty::InstrumentPty a, b;
  rt::set_com_port(rt::make_qt_serial_port());
  rt::set_com_path(a.slave_path());
  ASSERT_EQ(OpenComConfig(1, "COM1", 19200, 0, 8, 1, 0, 0), 0) << ComErrorText();
  SetComTime(1, 1.05);
  const std::string rec = dir_.file("rec.dat");
  FileStream* rec_fp = FileOpen(rec.c_str(), "ab");
  ASSERT_NE(rec_fp, nullptr);
  receiver_attach_recording(rec_fp);
  auto panel = open_panel("");
  ASSERT_TRUE(panel);
  QAction* action = panel->find<QAction>("actionConnectTo");
  ASSERT_TRUE(action);
  EXPECT_EQ(action->text().toStdString(), "Connect to\u2026");
  ASSERT_TRUE(action->isEnabled()) << "a live link on a serial port";

  uint8_t frame[FRAME_LEN];
  const std::vector<uint8_t> on_a = escape_for_link(FrameBuilder().counter(1).word(10, 1111).bytes);
  a.send(on_a);
  ASSERT_EQ(get_port_frm(frame), RX_OK);

  // A device that does not exist: a lost port, said in the log and the
  // health bar; the operator chooses again.
  {
    ChooseDevice choose("/dev/no-such-adapter");
    action->trigger();
    EXPECT_EQ(choose.seen, std::vector<std::string>{"portChooser"});
  }
  EXPECT_EQ(get_port_frm(frame), RX_READ_FAILED) << "the switch reads as a port failure";
  EXPECT_TRUE(logged("Connect to /dev/no-such-adapter (was " + a.slave_path() + ")"));
  panel->refresh();
  EXPECT_EQ(panel->find<QLabel>("healthState")->text().toStdString(), "PORT LOST");
  EXPECT_NE(panel->find<QLabel>("healthReason")->text().indexOf("/dev/no-such-adapter"), -1)
      << panel->find<QLabel>("healthReason")->text().toStdString();

  {
    ChooseDevice choose(b.slave_path());
    action->trigger();
  }
  EXPECT_EQ(get_port_frm(frame), RX_READ_FAILED) << "the fresh frame starts after the switch";
  const FrameBuilder second = FrameBuilder().counter(2).word(10, 2222);
  const std::vector<uint8_t> on_b = escape_for_link(second.bytes);
  b.send(on_b);
  ASSERT_EQ(get_port_frm(frame), RX_OK) << ComErrorText();
  EXPECT_EQ(std::vector<uint8_t>(frame, frame + FRAME_LEN), second.vec());
  EXPECT_TRUE(logged("Connect to " + b.slave_path() + " (was /dev/no-such-adapter)"));
  EXPECT_EQ(rt::com_device(), b.slave_path());
  panel->refresh();
  EXPECT_EQ(panel->find<QLabel>("healthPort")->text().toStdString(), "COM1 = " + b.slave_path());
  EXPECT_NE(panel->find<QLabel>("healthState")->text().toStdString(), "PORT LOST");

  receiver_attach_recording(nullptr);
  ASSERT_EQ(FileClose(rec_fp), 0);
  std::vector<uint8_t> both = on_a;
  both.insert(both.end(), on_b.begin(), on_b.end());
  EXPECT_EQ(testing_files::read_file(rec), both) << "one recording: A's bytes, then B's";

  // Once the link is closed there is nothing to switch.
  CloseCom(1);
  EXPECT_FALSE(rt::request_com_switch(a.slave_path()));
}

TEST_F(ConnectTo, is_disabled_in_playback) {
  const std::string rec = dir_.file("rec.dat");
  testing_files::write_file(rec, std::vector<uint8_t>(1000, 0));
  auto panel = open_panel(rec);
  ASSERT_TRUE(panel);
  QAction* action = panel->find<QAction>("actionConnectTo");
  ASSERT_TRUE(action);
  EXPECT_FALSE(action->isEnabled());
}

}  // namespace
