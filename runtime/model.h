// The panel model: the single truth about what the panel shows. Built from
// the panel file, written by the run-time calls of the system's thread, read
// by the window (GUI thread) and by tests. Every public member locks one
// mutex, so the two threads meet only here.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "present/display_format.h"
#include "present/limits.h"

namespace rt {

enum class Kind {
  Button,      // QPushButton: raises events, holds no value
  IntInput,    // QSpinBox: operator input (and display), int
  FloatInput,  // QDoubleSpinBox: operator input, 32-bit float
  Switch,      // QCheckBox: operator input, int 0 or 1
  Display,     // QLineEdit, read-only: int, double or text
  TextBox,     // QPlainTextEdit, read-only: text
  XYGraph,     // QCustomPlot, chart = xy
  StripChart,  // QCustomPlot, chart = strip
};

enum class ValueType : uint8_t { None, Int, Float, Double, Text, Points, U16 };

const char* kind_name(Kind kind);
const char* value_type_name(ValueType type);

struct ControlInfo {
  int id = 0;
  std::string name;         // PANEL_*
  Kind kind = Kind::Display;
  ValueType type = ValueType::None;
  std::string widget_class;  // as in the panel file
  // The value the panel file gives the control (spin box value, switch
  // state), shown until the system or the operator changes it.
  bool has_initial = false;
  double initial = 0.0;
  // Numeric displays: how the value is written, and the caution and alarm
  // ranges it is watched against (panel-file properties format, unit,
  // unitScale, caution, alarm, hysteresis).
  DisplayFormat format{};
  Limits limits{};
};

struct PanelLayout {
  std::string file;   // path it was read from
  int resource = 0;
  std::string title;
  std::vector<ControlInfo> controls;  // in file order
};

struct Axis {
  double min = 0.0;
  double max = 10.0;
  bool manual = false;  // limits set by SetAxisRange; otherwise autoscaled
  bool log = false;
};

// When a strip-chart append happened: the count of points of each trace
// after it, and the time (seconds on the model's clock).
struct StripStamp {
  std::array<uint64_t, 4> appended{};
  double t_s = 0.0;
};

struct Plot {
  std::vector<float> x, y;
  int style = 0, point = 0, line = 0, freq = 1, color = 0;
};

// One strip-chart trace: the newest points appended, at most a capacity
// (the model's), oldest first. A fixed buffer written round: the system
// appends 20 points to each trace at every frame.
class StripRing {
 public:
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // Point i counted from the oldest held.
  uint16_t operator[](size_t i) const {
    size_t at = head_ + i;
    if (at >= buf_.size()) at -= buf_.size();
    return buf_[at];
  }
  uint16_t front() const { return (*this)[0]; }
  uint16_t back() const { return (*this)[size_ - 1]; }
  // Appends values[0], values[stride], ... (n of them), keeping the newest
  // `capacity`.
  void append(const uint16_t* values, size_t n, size_t stride, size_t capacity);
  // Holds exactly [first, last) (at most `capacity`, the newest).
  void assign(const uint16_t* first, const uint16_t* last, size_t capacity);
  bool operator==(const StripRing& other) const;

 private:
  std::vector<uint16_t> buf_;  // capacity slots, once a point came
  size_t head_ = 0;            // slot of the oldest point
  size_t size_ = 0;
};

// What one control holds. Which value member counts follows the control's
// ValueType: Int (and Switch) -> i, Float -> f, Double -> d, Text -> text.
struct ControlState {
  // What every value written changes first, together (one cache line with
  // the text's own fields).
  int i = 0;
  float f = 0.0f;
  double d = 0.0;
  // A value has been written (a display never written, or put back to a
  // moment before its first value, shows empty).
  bool written = false;
  // Displays with limits: the level of the value shown.
  LimitLevel limit = LimitLevel::Normal;
  uint64_t version = 0;  // model version of the last change; 0: never changed
  std::string text;
  std::map<int, int> attrs;
  // XY graphs
  Axis x, y;
  std::vector<Plot> plots;
  // Strip chart: one bounded ring per trace, and the count of points ever
  // appended to each (so a reader can tell how many are new).
  std::array<StripRing, 4> traces;
  std::array<uint64_t, 4> appended{};
  int strip_next = 0;  // trace that takes the next value
  // The appends whose points are still in the rings, oldest first, and the
  // one before them (so the oldest points have a start time too).
  std::deque<StripStamp> stamps;
  // Strip chart: grows when the traces are replaced rather than appended to
  // (a move in the playback), so a drawing starts again.
  uint64_t strip_epoch = 0;
  // Input controls: the value the operator committed last, while its event
  // waits to be handed over (the control takes it then). The window shows
  // this rather than `i` / `f`, which the system may still be writing.
  std::optional<double> committed;
};

// What the panel showed at another moment of the playback, for the
// controls that the frames write (history/moment.h builds it after a move).
struct PanelMoment {
  struct Display {
    int id = 0;
    bool written = false;  // else shown empty, as before its first value
    double number = 0.0;   // numeric displays
    std::string text;      // text displays
    LimitLevel level = LimitLevel::Normal;
  };
  std::vector<Display> displays;
  // The strip chart's points, oldest first, one vector per trace, each with
  // the time (model clock) of the frame it came in.
  int strip_id = 0;  // 0: the strip chart is left as it is
  std::array<std::vector<uint16_t>, 4> traces;
  std::vector<StripStamp> stamps;
};

class PanelModel {
 public:
  static constexpr int STRIP_TRACES = 4;

  explicit PanelModel(PanelLayout layout, size_t strip_capacity = 2000);

  const PanelLayout& layout() const { return layout_; }

  // Whether threads other than the one that writes the model read it (the
  // window's, above all). The run-time says no when no window is made:
  // then no call takes the lock, which costs more than the work of most
  // calls at thousands of frames a second. Set before any other thread
  // can see the model; true (locked) unless said.
  void set_shared(bool shared) { shared_ = shared; }
  // nullptr when the panel has no such control.
  const ControlInfo* find(int id) const;
  const ControlInfo* find(std::string_view name) const;
  size_t strip_capacity() const { return strip_capacity_; }

  // Values. Return false for an unknown control or a value the control's type
  // cannot hold (text into a number, a number into text). Numbers convert
  // between int, float and double controls as C++ converts them.
  bool set_int(int id, int value);
  bool set_double(int id, double value);
  bool set_float(int id, float value);
  bool set_text(int id, std::string_view value);
  bool get_int(int id, int* value) const;
  bool get_float(int id, float* value) const;
  bool get_double(int id, double* value) const;
  bool get_text(int id, std::string* value) const;

  bool set_attr(int id, int attribute, int value);
  // Missing attributes read as `fallback`.
  int attr(int id, int attribute, int fallback = 0) const;

  // Graphs.
  bool set_x_range(int id, double min, double max);
  bool set_y_range(int id, double min, double max);
  bool set_x_log(int id, bool log);
  bool set_y_log(int id, bool log);
  // Returns the plot handle (1-based index), or -1.
  int add_plot(int id, Plot plot);
  // The same with the points copied from `x` and `y` (n each) and the look
  // of `look` (its points ignored), into the storage of a plot deleted
  // before: the system replaces its plots at every frame.
  int add_plot(int id, const float* x, const float* y, size_t n, const Plot& look);
  bool delete_plots(int id);
  // Appends values to the traces in turn, continuing where the last call
  // left, stamped with the time on the model's clock (seconds since the
  // model was made) or with `t_s`.
  bool strip_append(int id, const uint16_t* values, int n);
  bool strip_append(int id, const uint16_t* values, int n, double t_s);
  double clock_s() const;

  // Limits: numeric displays with a caution or alarm range are watched as
  // values are set. Each change of level is logged to the session log
  // (session/session_log.h), and each value out of limits reported to the
  // session's alarm list (session_watch.h); the control's state carries its
  // level.
  int out_of_limits() const;  // displays not at the normal level
  int in_alarm() const;

  // Puts the displays and the strip chart of `moment` back as they were:
  // values, emptiness and limit levels, silently (a level put back is no
  // change to log). Controls not named keep what they show.
  void restore(const PanelMoment& moment);
  // The displays whose limits the operator may change: those the panel file
  // gives limits, and the housekeeping displays (PANEL_HK*), in file order.
  struct LimitSlot {
    int id = 0;
    std::string label;  // "HK16"
    DisplayFormat format;
    Limits defaults;    // the panel file's
    Limits limits;      // in force
    LimitLevel level = LimitLevel::Normal;
  };
  std::vector<LimitSlot> limit_slots() const;
  // New limits for the display `id` of limit_slots (false for any other),
  // in force at once: the value it shows is judged again, and a change of
  // level logged and reported as any other. The caller checks them first
  // (present/limits.h check_limits) and logs the change of limits.
  bool set_limits(int id, const Limits& limits);
  // Grows with every set_limits.
  uint64_t limits_version() const;

  // A copy of a control's whole state (false for an unknown control).
  bool state(int id, ControlState* out) const;
  // A look at a control's state without copying it (a strip chart's rings,
  // at every frame): `look` runs under the model's lock and must not call
  // the model. False for an unknown control.
  bool read_state(int id, const std::function<void(const ControlState&)>& look) const;

  // Panel-wide.
  void set_title(std::string_view title);
  std::string title() const;
  void set_visible(bool visible);
  bool visible() const;

  // Operator events: the window commits input. A committed value travels
  // with its event and goes into the control only when the event is taken,
  // so whoever takes it (GetUserEvent, for the system's handler) reads what
  // the operator committed, even if the system wrote the control meanwhile.
  void post_event(int id);
  void post_event(int id, double value);
  // Pops the oldest event and puts its value, if any, into the control
  // (converted as set_double does); false when none is pending.
  bool take_event(int* id);
  size_t pending_events() const;
  // True when an event of control `id` is waiting (the event stays queued).
  bool has_event(int id) const;

  // Change tracking for the window: the model version grows with every
  // change; `changed_since` lists the controls changed after `version`.
  uint64_t version() const;
  std::vector<int> changed_since(uint64_t version) const;
  // The same into *ids (emptied first, its room kept): a follower asks at
  // every frame.
  void changed_since(uint64_t version, std::vector<int>* ids) const;
  uint64_t panel_version() const;  // title and visibility

 private:
  // What every call on a control needs first, in one small entry: its
  // position in layout_.controls and states_ (-1 if none), its type, and
  // whether its values are judged against limits.
  struct Quick {  // 8 bytes: handed back in one register
    int position = -1;
    ValueType type = ValueType::Int;
    bool limited = false;
  };
  static_assert(sizeof(Quick) == 8);
  // Inline: asked at every call on a control, so the panel file's small ids
  // are a direct index into quick_.
  Quick quick(int id) const {
    if (id >= 0 && static_cast<size_t>(id) < quick_.size()) return quick_[static_cast<size_t>(id)];
    return sparse_quick(id);
  }
  Quick sparse_quick(int id) const;
  int position(int id) const { return quick(id).position; }
  ControlState* slot(int id);
  const ControlState* slot(int id) const;
  void touch(ControlState& s) { s.version = ++version_; }
  // What a watched display's new value did to its limits: reported once the
  // lock is released. Filled in place, so a note kept by a thread reuses its
  // texts' room (a value out of limits is noted at every frame).
  struct LimitNote {
    std::string label;
    LimitLevel level = LimitLevel::Normal;
    bool changed = false;
    LimitChange change;
    bool out = false;  // out of limits: `excursion` says how far
    LimitExcursion excursion;
    bool any() const { return changed || out; }
  };
  // set_double's work, for a caller that holds the lock: the control's
  // state with `value` stored (nullptr when it cannot hold it), the number
  // it now holds to *stored.
  ControlState* store_double(const Quick& q, double value, double* stored);
  // Applies `change` to one axis of a graph, under the lock.
  bool change_axis(int id, Axis ControlState::*axis, const std::function<void(Axis&)>& change);
  // After a numeric value is stored, under the lock: the limit level of a
  // watched display. Returns what to report once the lock is released.
  void watch_limits(int id, ControlState& s, double value, LimitNote* note);
  // The rest of *note, once `changed` and `change` are set.
  void note_of(int id, LimitNote* note);
  class Lock;
  // After a watched display's value is stored, under `lock`: its limits
  // judged, then the note reported once `lock` is released (out of line,
  // so the calls on unwatched controls stay short).
  void watch_and_report(int id, ControlState& s, double value, Lock& lock);
  static void report(const LimitNote& note);

  PanelLayout layout_;
  size_t strip_capacity_;
  mutable std::mutex mu_;
  bool shared_ = true;
  // mu_ held for a scope, when the model is shared.
  class Lock {
   public:
    explicit Lock(const PanelModel& m) : mu_(m.shared_ ? &m.mu_ : nullptr) {
      if (mu_) mu_->lock();
    }
    ~Lock() { unlock(); }
    // Before the scope ends: a limit note is reported without the lock.
    void unlock() {
      if (mu_) mu_->unlock();
      mu_ = nullptr;
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    std::mutex* mu_;
  };
  // By id for the panel file's small ids, looked up on every call the
  // system makes; the positions of larger ids in the map.
  static constexpr int DENSE_IDS = 4096;
  std::vector<Quick> quick_;
  std::map<int, int> sparse_index_;
  // Plots deleted, kept for their storage (at most a few: one a graph).
  static constexpr size_t SPARE_PLOTS = 8;
  std::vector<Plot> spare_plots_;
  std::vector<ControlState> states_;
  struct Event {
    int id = 0;
    std::optional<double> value;  // committed with the event
  };
  std::deque<Event> events_;
  // events_.size(), for the look at every poll (no lock when none waits).
  std::atomic<size_t> event_count_{0};
  std::string title_;
  bool visible_ = false;
  uint64_t version_ = 0;
  uint64_t panel_version_ = 0;
  LimitTable limits_;
  uint64_t limits_version_ = 0;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace rt
