// The features registered with the run-time (hooks.h).
#include "runtime/hooks.h"

#include <algorithm>

#include "runtime/context.h"

namespace rt {

namespace {

// Set at program start, before the system's thread runs; read there only.
PlaybackControl* registered_control = nullptr;

std::vector<FrameObserver*>& observers() {
  static std::vector<FrameObserver*> list;
  return list;
}

std::vector<SessionObserver*>& session_list() {
  static std::vector<SessionObserver*> list;
  return list;
}

// The input feed and its name, set before the system's thread runs.
std::string& feed_name() {
  static std::string name;
  return name;
}
InputFeed* registered_feed = nullptr;

}  // namespace

void set_playback_control(PlaybackControl* control) { registered_control = control; }

void set_input_feed(const std::string& name, InputFeed* feed) {
  feed_name() = feed ? name : std::string();
  registered_feed = feed;
}

InputFeed* input_feed(const std::string& name) {
  return registered_feed && name == feed_name() ? registered_feed : nullptr;
}

void add_frame_observer(FrameObserver* observer) {
  auto& list = observers();
  if (observer && std::find(list.begin(), list.end(), observer) == list.end()) list.push_back(observer);
}

void add_session_observer(SessionObserver* observer) {
  auto& list = session_list();
  if (observer && std::find(list.begin(), list.end(), observer) == list.end()) list.push_back(observer);
}

const std::vector<SessionObserver*>& session_observers() { return session_list(); }

PlaybackControl* playback_control() { return registered_control; }

const std::vector<FrameObserver*>& frame_observers() { return observers(); }

}  // namespace rt
