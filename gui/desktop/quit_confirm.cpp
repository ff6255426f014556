#include "gui/desktop/quit_confirm.h"

#include <QMessageBox>
#include <QPushButton>

#include "gui/desktop/dialogs.h"
#include "session/session_log.h"
#include "runtime/transport.h"

namespace rt {

const char* const QUIT_QUESTION =
    "Stop receiving and close the recording? The instrument will be sent the stop command.";

bool operator_may_quit(QWidget* parent) {
  // A link replay counts as playback: nothing is sent or recorded.
  if (transport_is_playback()) return true;
  QMessageBox box(QMessageBox::Question, QStringLiteral("Quit vst_gse"), QString::fromLatin1(QUIT_QUESTION),
                  QMessageBox::NoButton, parent);
  box.setObjectName(QStringLiteral("quitQuestion"));
  QPushButton* stop = box.addButton(QStringLiteral("&Stop and quit"), QMessageBox::YesRole);
  QPushButton* keep = box.addButton(QStringLiteral("&Keep receiving"), QMessageBox::NoRole);
  box.setDefaultButton(keep);
  box.setEscapeButton(keep);
  (void)stop;
  const bool yes = run_dialog(&box, true);
  if (!yes && !closed_by_teardown(&box)) log_info("Operator: quit cancelled, receiving goes on");
  return yes;
}

}  // namespace rt
