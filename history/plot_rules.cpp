#include "history/plot_rules.h"

#include <algorithm>

namespace rt {

int plot_for_value(const std::vector<std::optional<std::string>>& units, int target, const std::string& unit) {
  const int n = static_cast<int>(units.size());
  if (target >= 0 && target < n && (!units[target] || *units[target] == unit)) return target;
  for (int i = 0; i < n; ++i)
    if (units[i] && *units[i] == unit) return i;
  return -1;
}

std::pair<double, double> follow_range(double first, double last, double width_s, double min_span_s) {
  const double x1 = std::max(last, first + min_span_s);
  const double x0 = std::max(first, x1 - std::max(width_s, min_span_s));
  return {std::min(x0, x1 - min_span_s), x1};
}

}  // namespace rt
