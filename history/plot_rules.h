// How the trends view lays its values out, apart from its widgets: one unit
// to a plot's value axis (a temperature never shares an axis with a rate),
// and the time range Follow shows. Qt-free.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace rt {

// The plot a value of `unit` ("" for a value without one, a kind of its
// own) goes on. `units[i]` is the unit of plot i's values, nullopt for a
// plot with none yet; `target` the plot the operator chose (dropped onto,
// or the one a double-click in the list goes to), -1 for none. The target
// when it is empty or has that unit, else the first plot with that unit,
// else -1: a new plot.
int plot_for_value(const std::vector<std::optional<std::string>>& units, int target, const std::string& unit);

// Follow: the data's whole span, from `first` to `last` (the newest frame),
// up to `width_s`; never narrower than `min_span_s`. Returns [x0, x1].
std::pair<double, double> follow_range(double first, double last, double width_s, double min_span_s);

}  // namespace rt
