// The panel's plots: the spectra (XY graphs) and the strip chart, each a
// QCustomPlot from the panel file, drawn from its control's model state.
// Runs on the GUI thread.
#pragma once

#include <QtGlobal>

#include <array>
#include <cstdint>

#include "runtime/model.h"

class QCustomPlot;

namespace rt {

// One plot widget and what has been drawn into it.
class PanelPlot {
 public:
  // Sets `plot` up for a control of `kind` (XYGraph or StripChart): axis
  // labels, the title from the widget's "plotTitle" property, and for the
  // strip chart its four named traces and their legend.
  PanelPlot(QCustomPlot* plot, Kind kind);

  // Draws `s` unless the plot was drawn less than its rate limit ago at
  // `now_ms` (a monotonic clock); `unthrottled` draws regardless. Returns
  // false when the drawing is left for a later call, which should pass the
  // model's state as it then is.
  bool draw(const ControlState& s, qint64 now_ms, bool unthrottled);

 private:
  void draw_xy(const ControlState& s);
  void draw_strip(const ControlState& s);

  QCustomPlot* plot_;
  Kind kind_;
  // Strip chart: points of each trace already on screen.
  std::array<uint64_t, 4> drawn_{};
  // When last replotted (ms), to bound the painting work.
  qint64 replotted_ms_ = -1;
};

}  // namespace rt
