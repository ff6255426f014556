// The inputs that set a graph's axis limits (x min, x max, y min, y max):
// each says whether the graph uses its value. Until the system has set the
// axis, the graph scales itself to the data and the field's value is only
// waiting for Enter; the field's text is then greyed and its tooltip says
// so, and says what the graph uses when that differs from the field (the
// system raises y min for a logarithmic axis, for one). The panel file names
// the axis in the input's property `axisLimit`: "PANEL_SPEC256 y min".
// GUI thread only.
#pragma once

#include <QString>

#include <string>
#include <vector>

#include "runtime/model.h"

class QAbstractSpinBox;
class QWidget;

namespace rt {

class AxisInputs {
 public:
  // Finds the inputs of `form` that carry an `axisLimit` property.
  explicit AxisInputs(QWidget* form);

  // Shows, on the inputs of graph `graph` (its PANEL_* name), whether its
  // state `s` uses their values.
  void show_graph(const std::string& graph, const ControlState& s);
  // Draws the inputs again in the colours of the current theme.
  void restyle();

 private:
  struct Input {
    QAbstractSpinBox* widget = nullptr;
    QString tooltip;  // as in the panel file
    std::string graph;
    bool x = true;    // x axis, else y
    bool max = false;  // the upper limit, else the lower
    QString shown_note;  // what the tooltip adds now
  };
  void apply(Input& in);
  std::vector<Input> inputs_;
};

}  // namespace rt
