#include "session/command_arm.h"

#include <cmath>

namespace rt {

void CommandArm::set_confirm(bool on) {
  confirm_ = on;
  armed_ = false;
}

CommandArm::Click CommandArm::click(double t_s) {
  if (!confirm_) return Click::Sends;
  if (armed(t_s)) {
    if (t_s - armed_at_s_ < MIN_CONFIRM_S) return Click::Ignored;
    armed_ = false;
    return Click::Sends;
  }
  armed_ = true;
  armed_at_s_ = t_s;
  return Click::Arms;
}

int CommandArm::seconds_left(double t_s) const {
  if (!armed(t_s)) return 0;
  return static_cast<int>(std::ceil(ARM_S - (t_s - armed_at_s_)));
}

bool CommandArm::lapsed(double t_s) {
  if (!armed_ || armed(t_s)) return false;
  armed_ = false;
  return true;
}

}  // namespace rt
