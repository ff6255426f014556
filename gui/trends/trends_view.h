// The trends view: a dock (View > Trends, Ctrl+T) of plots stacked on one
// time axis, beside the searchable list of values. Every plot draws from one
// trend store (history/trend_store.h) of the recording the session plays or
// writes. The mouse zooms and pans the time of every plot at once (a
// double-click shows the whole recording again); live, "Follow" keeps the
// newest frames in view. The cursor under the mouse reads every plotted
// value at its time, with the clock time and the instrument's elapsed time;
// the session log's events are lines across the plots. "Export CSV..."
// writes the plotted values over the range shown (history/trend_csv.h).
// Which values are plotted, the axis, and whether the dock is shown are
// remembered with the layout. GUI thread.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "gui/trends/trend_plot.h"
#include "history/event_marks.h"
#include "history/trend_store.h"

class QAction;
class QCheckBox;
class QComboBox;
class QDockWidget;
class QLabel;
class QMainWindow;
class QPushButton;
class QVBoxLayout;
class QWidget;

namespace rt {

class DisplayDrag;
class PanelModel;
class ValueList;

class TrendsView : public QObject {
 public:
  // Adds the dock (objectName "trendsDock") to `window` and the action
  // "actionShowTrends" that shows it; makes the displays of the panel form
  // `form` draggable onto the plots.
  TrendsView(QMainWindow* window, const PanelModel& model, QWidget* form);
  ~TrendsView() override;

  QAction* show_action() const { return show_; }
  QDockWidget* dock() const { return dock_; }
  void apply_palette();

  // Plots and values (the list and drops do the same).
  TrendPlot* add_plot(const std::vector<std::string>& keys);
  std::vector<TrendPlot*> plots() const;
  // Brings everything up to date now, as the view's timer does.
  void refresh();
  const TrendStore* store() const { return store_.get(); }
  QString status_text() const;
  QString readout_text() const;
  // The time range shown, on the axis in use.
  std::pair<double, double> range() const { return {x0_, x1_}; }
  // Shows [x0, x1] as a zoom or pan of the operator would.
  void show_range(double x0, double x1);
  // The cursor at `x` on the axis (NaN: none), as the mouse puts it.
  void hover(double x);
  // Writes the plotted values over the range shown to `path` (in the
  // background); the outcome goes to the status and the log.
  void export_csv(const QString& path);
  bool exporting() const { return export_thread_.joinable(); }

  // A click on a plot chose a moment (an event line under it, else the
  // frame at the click): its time, its byte in the recording (-1: not
  // known) and what it is.
  std::function<void(double t_s, int64_t offset, const QString& what)> on_moment;
  // The pass's time of the frame the panel shows (playback), drawn as the
  // plots' position line; false when none.
  std::function<bool(double* t_s)> shown_time;
  // Where the position line stands on the axis (NaN: not shown). Tests.
  double position() const { return position_x_; }
  // A click on the plots at `x` on the axis, as the mouse makes it.
  void click(double x);
 private:
  struct Source;
  void build(QMainWindow* window, QWidget* form);
  void ensure_store();
  void redraw();
  void draw_readout();
  void draw_position();
  void place_events(const TrendData& d, const AxisX& axis);
  bool poll_events();  // true when there are new events to draw
  void poll_export();
  void ask_export();
  void wire(TrendPlot* plot);
  void remove_plot(TrendPlot* plot);
  void add_values(TrendPlot* plot, const std::vector<std::string>& keys);
  // A plot with no value yet, below the others.
  TrendPlot* new_plot();
  // Puts the value on `target`, or where its unit goes (plot_rules.h).
  TrendPlot* place_value(TrendPlot* target, const std::string& key);
  // The time labels on the lowest plot only.
  void label_plots();
  // Follow's width: the one chosen, shown in its list (added when a zoom chose it).
  void show_follow_width();
  TrendValue value_of(const std::string& key) const;
  // The limits in force for a value's display (none without one).
  Limits limits_of(const std::string& key) const;
  void want();
  void save() const;
  void restore();
  bool elapsed_axis_on() const;

  const PanelModel& model_;
  QMainWindow* window_ = nullptr;
  QDockWidget* dock_ = nullptr;
  QAction* show_ = nullptr;
  ValueList* list_ = nullptr;
  QWidget* scroll_ = nullptr;
  QWidget* plots_box_ = nullptr;
  QVBoxLayout* plots_column_ = nullptr;
  QLabel* drop_new_ = nullptr;
  QLabel* no_frames_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* readout_ = nullptr;
  QComboBox* axis_ = nullptr;
  QCheckBox* follow_ = nullptr;
  QComboBox* follow_width_ = nullptr;
  QPushButton* export_ = nullptr;
  DisplayDrag* drag_ = nullptr;
  std::vector<std::unique_ptr<TrendPlot>> plots_;
  TrendPlot* current_ = nullptr;  // the plot a double-clicked value goes to

  std::shared_ptr<TrendStore> store_;  // shared with an export under way
  uint64_t drawn_revision_ = 0;
  uint64_t drawn_limits_ = 0;  // the model's limits version the plots show
  uint64_t drawn_generation_ = 0;
  qint64 drawn_ms_ = -1;
  bool dirty_ = true;       // the range or the plots changed: draw at the next tick
  bool zoomed_ = false;     // the operator chose the range
  double x0_ = 0.0, x1_ = 1.0;
  double follow_span_s_ = 600.0;
  double cursor_x_;
  double position_x_;
  TimeLabels labels_ = TimeLabels::Clock;
  QString axis_note_;  // why the elapsed axis is not used
  QString unavailable_;  // why the plots have no values to show ("" while there is a recording to read)
  // The x of each frame on the elapsed axis, kept while the data is the same.
  std::vector<double> elapsed_x_;
  size_t elapsed_first_ = 0;
  bool elapsed_ok_ = false;
  uint64_t elapsed_revision_ = ~uint64_t{0};

  std::vector<EventMark> marks_;  // the events at their clock time, in time order
  std::vector<EventMark> session_marks_;  // a playback's own events, placed by the frame then shown
  ShownFrames shown_frames_;      // playback: which frame the panel showed when
  std::string shown_path_;        // of that recording
  uint64_t log_seen_ = 0;
  std::string marks_source_;      // the recording whose log was read
  std::vector<std::pair<double, EventMark>> shown_events_;  // drawn: the first in each pixel column
  std::vector<std::pair<double, EventMark>> hover_events_;  // every one in view (bounded)

  std::thread export_thread_;
  std::atomic<bool> export_done_{false};
  std::atomic<bool> export_cancel_{false};
  std::string export_result_;
  bool export_ok_ = false;
  QString export_path_;

  QTimer timer_;
  qint64 clock_ms() const;
};

}  // namespace rt
