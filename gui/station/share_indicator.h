// The health bar's indicator of sharing: "PUBLISHING" while the station
// publishes to a broker (amber while the broker is away, red when it
// refused us, with the messages dropped), or "REMOTE VIEW OF PREFIX" in a
// viewer (the station online or offline, the frames missed). It shows
// publish_state() and viewer_state() (publish/) and keeps no state of its
// own; hidden when the station neither publishes nor views. GUI thread.
#pragma once

class QLabel;
class QString;
class QWidget;

namespace rt {

class ShareIndicator {
 public:
  // Makes the label (objectName "healthShare"); the caller places it.
  ShareIndicator();
  QWidget* widget() const;
  void draw();

 private:
  QLabel* label_ = nullptr;
};

// A remote view is read-only: the panel's Command switch is disabled, its
// tooltip says why.
void make_read_only(QWidget* panel_form);

// The window's title in a remote view: "vst_gse - remote view of PREFIX at
// HOST:PORT" ("" when the program is no remote view).
QString remote_view_title();

}  // namespace rt
