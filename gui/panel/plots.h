// The panel's plots: the spectra (XY graphs) and the strip chart, each a
// QCustomPlot from the panel file, drawn from its control's model state.
//
// The mouse changes the view only, never the model: the wheel zooms, a drag
// pans, a double-click returns to what the model gives (the system's axis
// limits where it set them, else the data's extent; the strip chart follows
// its newest samples again). While zoomed, the plot says so and new data
// does not move the view. A click on a legend entry hides or shows its
// trace. Lines are drawn in logical pixels, so they keep their width on a
// high-density screen. Runs on the GUI thread.
#pragma once

#include <QObject>
#include <QPen>
#include <QtGlobal>

#include <array>
#include <cstdint>
#include <functional>

#include "runtime/model.h"

class QCustomPlot;
class QCPAxis;
class QCPItemText;
class QString;
class QWidget;

namespace rt {

// A plot line of one logical pixel: it keeps its width on a high-density
// screen (a cosmetic pen would stay one device pixel).
QPen line_pen(const QColor& colour, Qt::PenStyle style = Qt::SolidLine);
// An axis, its ticks and labels in `text`, its grid dotted in `grid`.
void style_axis(QCPAxis* axis, const QColor& text, const QColor& grid);

// One plot widget and what has been drawn into it.
class PanelPlot : public QObject {
 public:
  // Sets `plot` up for a control of `kind` (XYGraph or StripChart): axis
  // labels, the title from the widget's "plotTitle" property, the mouse, and
  // for the strip chart its four named traces and their legend.
  PanelPlot(QCustomPlot* plot, Kind kind);

  // Draws `s` unless the plot was drawn less than its rate limit ago at
  // `now_ms` (a monotonic clock); `unthrottled` draws regardless. Returns
  // false when the drawing is left for a later call, which should pass the
  // model's state as it then is.
  bool draw(const ControlState& s, qint64 now_ms, bool unthrottled);

  // View only: a logarithmic axis the model does not ask for (x: 'x' or
  // 'y'). The model's own log mapping still applies on top.
  void set_view_log(char axis, bool log);
  // Back to the view the model gives.
  void reset_view();
  bool zoomed() const { return zoomed_; }
  // Follows the application's palette (theme change).
  void apply_palette();

  // Seconds of the strip chart's time axis shown when following.
  static constexpr double STRIP_SECONDS = 6.0;

 private:
  void draw_xy(const ControlState& s);
  void draw_strip(const ControlState& s);
  void place_xy_axes();
  void follow_strip();
  void set_zoomed(bool zoomed);
  void toggle_trace(int trace);

  QCustomPlot* plot_;
  Kind kind_;
  QCPItemText* zoom_note_ = nullptr;
  bool zoomed_ = false;
  bool applying_ = false;  // the ranges are being set here, not by the mouse
  // XY graphs: the axes of the last state drawn, and the view-only logs.
  Axis x_, y_;
  bool has_plots_ = false;
  bool view_log_x_ = false, view_log_y_ = false;
  // Strip chart: points of each trace already on screen, and the time of
  // the newest.
  std::array<uint64_t, 4> drawn_{};
  uint64_t drawn_epoch_ = 0;
  double newest_s_ = 0.0;
  // When last replotted (ms), to bound the painting work.
  qint64 replotted_ms_ = -1;
};

// Connects the view-only switches of `form`: check boxes with a property
// `viewLog` = "PANEL_NAME x" (or "y") switch that plot's axis between linear
// and logarithmic; `plot_named` finds the plot of a control name.
void connect_view_switches(QWidget* form, const std::function<PanelPlot*(const QString&)>& plot_named);

}  // namespace rt
