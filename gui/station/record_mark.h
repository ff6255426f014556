// The health bar's mark of the session record (record/recorder.h):
// "RECORD FAILED" in red while the record beside the recording cannot be
// written (its tooltip says the record and why); hidden otherwise, since
// a record being written needs no one's attention. GUI thread.
#pragma once

class QLabel;
class QWidget;

namespace rt {

class RecordMark {
 public:
  // Makes the label (objectName "healthRecord"); the caller places it.
  RecordMark();
  QWidget* widget() const;
  void draw();

 private:
  QLabel* label_ = nullptr;
};

}  // namespace rt
