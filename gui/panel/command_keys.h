// The panel's controls that make the station send something to the
// instrument act on a deliberate click only. A key that would press one
// where it has the focus (Space, Enter, Return, Select) does nothing but
// say so: Space is Pause in playback, and an operator's habit must never
// send a command. The Quit button is not among them: in live mode it asks
// first (quit_confirm.h). GUI thread only.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QWidget;

namespace rt {

// The controls guarded, by objectName: the Command switch.
extern const char* const SENDING_CONTROLS[];

class CommandKeys : public QObject {
 public:
  // Guards the controls of `form` named in SENDING_CONTROLS; `say` shows a
  // message (the status bar) when a key was refused.
  CommandKeys(QWidget* form, std::function<void(const QString&)> say);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::function<void(const QString&)> say_;
};

}  // namespace rt
