#include "publish/station_limits.h"

#include <map>
#include <string>

#include "present/limits_file.h"
#include "runtime/model.h"
#include "session/session_log.h"

namespace rt {

int apply_station_limits(PanelModel& model, const PublishedPanel& panel) {
  std::map<std::string, const Limits*> published;
  for (const PublishedDisplayLimits& d : panel.displays) published[d.name] = &d.limits;
  int changed = 0;
  for (const PanelModel::LimitSlot& slot : model.limit_slots()) {
    const auto it = published.find(slot.label);
    if (it == published.end()) continue;
    Limits theirs = *it->second;
    theirs.hysteresis = slot.defaults.hysteresis;
    std::string why;
    if (theirs.any() && !check_limits(theirs, &why)) theirs.hysteresis = -1.0;
    if (theirs == slot.limits) continue;
    log_info("limits of " + slot.label + " from the station: " + limits_fields(slot.limits) + " -> " +
             limits_fields(theirs));
    model.set_limits(slot.id, theirs);
    ++changed;
  }
  return changed;
}

}  // namespace rt
