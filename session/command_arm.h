// Arm, then send: the Command switch sends the instrument its command
// strings only on a second, deliberate click. The first click arms it for
// ARM_S (the switch shows ARMED meanwhile); a click within that time sends;
// a click that follows the arming too closely (MIN_CONFIRM_S, a double-click
// or a bounce) is the same click and does nothing. Without confirmation
// (the operator's setting) every click sends at once. Qt-free, on a clock
// of the caller's (seconds, any origin); the window feeds it the clicks.
#pragma once

namespace rt {

class CommandArm {
 public:
  // Long enough to move the hand and look, short enough that an armed
  // switch left alone cannot be "confirmed" by a stray click much later.
  static constexpr double ARM_S = 5.0;
  // Below the desktop's double-click interval (0.4 s by default).
  static constexpr double MIN_CONFIRM_S = 0.5;

  enum class Click {
    Arms,     // nothing is sent: the switch is armed
    Sends,    // the switch moves and its command goes out
    Ignored,  // too soon after arming: the same click
  };

  explicit CommandArm(bool confirm = true) : confirm_(confirm) {}
  void set_confirm(bool on);
  bool confirm() const { return confirm_; }

  Click click(double t_s);
  bool armed(double t_s) const { return armed_ && t_s - armed_at_s_ < ARM_S; }
  // Whole seconds the arming has left (for the switch's text), 0 when not armed.
  int seconds_left(double t_s) const;
  // True once when an arming lapsed unconfirmed (for the log).
  bool lapsed(double t_s);

 private:
  bool confirm_;
  bool armed_ = false;
  double armed_at_s_ = 0.0;
};

}  // namespace rt
