// "Across sessions..." of the trends view: one value over several sessions
// of the archive, in a window of its own (objectName "acrossWindow"). The
// sessions are ticked in a list (the archive of the Sessions window's
// folder) and the value chosen beside it; the plot puts the sessions on one
// clock (a line each, so the gaps between them stay empty) or overlays them
// by the time since each one's start (a rehearsal against the flight), with
// a legend naming each session. It draws from the archive's per-minute
// summaries (min to max as a band, the mean as the line: no recording is
// read); a range narrower than ACROSS_RAW_SPAN_S is read from the
// recordings of the sessions in it on a thread of its own, and their frames
// are drawn when they come. A double-click shows every session whole again.
// GUI thread.
#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "archive/across.h"
#include "archive/archive.h"

class QComboBox;
class QCustomPlot;
class QLabel;
class QListWidget;

namespace rt {

class AcrossWindow : public QDialog {
 public:
  // Lists the sessions the archive of `folder` holds (indexed by File >
  // Sessions...).
  AcrossWindow(QWidget* parent, const QString& folder);
  ~AcrossWindow() override;

  // What the operator chooses, as the controls do it.
  void choose(const std::vector<int64_t>& sessions);  // ticks these, and only these
  void set_value(const QString& key);                  // "HK16"
  void set_axis(AcrossAxis axis);
  void show_range(double x0, double x1);  // a zoom or pan
  std::vector<SessionRow> rows() const { return rows_; }
  QCustomPlot* plot() const { return plot_; }
  // True while frames are being read for the range shown.
  bool reading() const { return reading_; }
  // True when the range shown is drawn from the recordings' frames.
  bool drawn_raw() const { return drawn_raw_; }
  QString status_text() const;
  const QString& folder() const { return folder_; }
  void apply_palette();

 private:
  void list_sessions();
  void chosen_changed();
  std::vector<int64_t> ticked() const;
  void range_changed();
  void read_raw();
  void raw_read(uint64_t generation, std::vector<AcrossLine> lines, QString problems);
  void stop_reading();
  void draw();
  void show_whole();

  QString folder_;
  std::unique_ptr<Archive> archive_;
  std::vector<SessionRow> rows_;
  QListWidget* list_ = nullptr;
  QComboBox* value_ = nullptr;
  QComboBox* axis_ = nullptr;
  QCustomPlot* plot_ = nullptr;
  QLabel* status_ = nullptr;
  QTimer settle_;  // a pan or zoom settles before the frames are read

  std::vector<AcrossLine> minutes_;  // the chosen sessions' per-minute summaries
  std::vector<AcrossLine> raw_;      // their frames over [raw_x0_, raw_x1_]
  double raw_x0_ = 0.0, raw_x1_ = 0.0;
  bool drawn_raw_ = false;
  bool reading_ = false;
  bool applying_ = false;  // the range is being set here, not by the mouse
  uint64_t generation_ = 0;  // of the choice and range a read is for
  QString note_;  // what the last read could not do

  std::shared_ptr<std::atomic<bool>> stop_;
  std::thread reader_;
};

// Shows the window for `parent` (made at the first call, for the archive of
// the Sessions window's folder; made again when that folder changed).
AcrossWindow* open_across_window(QWidget* parent);

}  // namespace rt
