// One plot of the trends view: the values put on it, drawn from the trend
// store (history/trend_store.h) over the time range the view shows, each
// in its display's unit; a value's limits as bands (amber past caution, red
// past alarm) when the plot's values share them; the cursor; the session's
// events as lines; and a note when a value has no sample in the range. It
// takes values dropped on it, and offers their removal on its context
// menu. The view owns it and keeps every plot on one time range. GUI thread.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <string>
#include <vector>

#include <qcustomplot.h>

#include "history/event_marks.h"
#include "history/trend_store.h"
#include "present/display_format.h"
#include "present/limits.h"


namespace rt {

// A value on a plot, as the operator knows it.
struct TrendValue {
  std::string key;   // catalogue key ("HK16")
  QString label;     // "HK16"
  QString unit;      // shown unit ("°C", "mA")
  QString what;      // a few words
  double scale = 1.0;  // shown = decoded x scale
  DisplayFormat format;
  Limits limits;
};

// The MIME type of values dragged onto a plot: their keys, one a line.
constexpr const char* TREND_MIME = "application/x-vst-gse-values";

// How the time axis is labelled.
enum class TimeLabels { Clock, SinceStart, Elapsed };

class TrendPlot : public QObject {
 public:
  // The plot's widget goes into `parent`; the view owns this object.
  explicit TrendPlot(QWidget* parent);
  ~TrendPlot() override;

  QCustomPlot* widget() const { return plot_; }
  const std::vector<TrendValue>& values() const { return values_; }
  bool has(const std::string& key) const;
  void add(const TrendValue& value);
  void remove(const std::string& key);
  // The limits in force for a value changed (the operator's Limits...).
  void set_limits(const std::string& key, const Limits& limits);

  // Draws the values from `d` over [x0, x1] of `axis`. A value that `d`
  // does not hold is being read, unless `unavailable` says why it cannot be
  // (no recording, a recording that cannot be read).
  void draw(const TrendData& d, const AxisX& axis, double x0, double x1, const QString& unavailable = {});
  // Only the range changed (a pan in progress is drawn from what is held).
  void set_range(double x0, double x1);
  // How the time axis is labelled; `show_tick_labels` for the lowest plot
  // only (the plots share the axis), which is then made taller for them.
  void set_labels(TimeLabels labels, bool show_tick_labels);
  // The cursor's place on the axis; NaN hides it.
  void set_cursor(double x);
  // The playback's position (the frame the panel shows) on the axis, as a
  // solid line; NaN hides it.
  void set_position(double x);
  // The events, placed on the axis (x), drawn as lines.
  void set_events(const std::vector<std::pair<double, EventMark>>& events);
  void apply_palette();
  void replot();
  // The note shown (tests).
  QString note() const;

  // What the operator did on this plot.
  std::function<void(double x0, double x1)> on_range;  // dragged or zoomed
  std::function<void()> on_reset;                      // double-click
  std::function<void(const std::vector<std::string>& keys)> on_drop;
  std::function<void(double x)> on_hover;              // NaN: left the plot
  std::function<void()> on_values_changed;             // a value removed
  std::function<void()> on_close;                      // "Remove this plot"
  std::function<void(double x)> on_click;              // a click that was not a drag
  std::function<void()> on_resized;                    // its value axis is to fit its new height

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void place_bands(double y0, double y1);
  void show_menu(const QPoint& at);

  QPointer<QCustomPlot> plot_;
  std::vector<TrendValue> values_;
  QCPItemStraightLine* cursor_ = nullptr;
  QCPItemStraightLine* position_ = nullptr;
  QPoint pressed_at_;            // where the left button went down
  class QTimer* click_ = nullptr;  // a click waits out a double-click's time
  double click_x_ = 0.0;
  QCPItemText* note_ = nullptr;
  std::vector<QCPItemRect*> bands_;  // below alarm, below caution, above caution, above alarm
  std::vector<QCPItemStraightLine*> event_lines_;
  bool applying_ = false;  // the range is being set here, not by the mouse
};

}  // namespace rt
