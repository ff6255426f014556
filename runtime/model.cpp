#include "runtime/model.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <utility>

#include "runtime/session_watch.h"
#include "session/session_log.h"

namespace rt {

void StripRing::append(const uint16_t* values, size_t n, size_t stride, size_t capacity) {
  if (capacity == 0) return;
  if (buf_.size() != capacity) {  // first use (or a new capacity): keep what fits
    std::vector<uint16_t> held;
    for (size_t i = 0; i < size_; ++i) held.push_back((*this)[i]);
    const size_t keep = std::min(held.size(), capacity);
    buf_.assign(capacity, 0);
    std::copy(held.end() - static_cast<std::ptrdiff_t>(keep), held.end(), buf_.begin());
    head_ = 0;
    size_ = keep;
  }
  // Only the newest `capacity` of the n can stay.
  const size_t skip = n > capacity ? n - capacity : 0;
  size_t at = head_ + size_;
  if (at >= capacity) at -= capacity;
  // In at most two runs: up to the ring's end, then from its start.
  uint16_t* const buf = buf_.data();
  for (size_t k = skip; k < n;) {
    const size_t run = std::min(n - k, capacity - at);
    const uint16_t* from = values + k * stride;
    uint16_t* to = buf + at;
    if (stride == 1) std::copy(from, from + run, to);
    else for (size_t j = 0; j < run; ++j, from += stride) to[j] = *from;
    k += run;
    at += run;
    if (at == capacity) at = 0;
  }
  const size_t added = n - skip;
  if (size_ + added <= capacity) {
    size_ += added;
  } else {
    head_ = at;  // full: the oldest is the slot after the newest
    size_ = capacity;
  }
}

void StripRing::assign(const uint16_t* first, const uint16_t* last, size_t capacity) {
  head_ = 0;
  size_ = 0;
  append(first, static_cast<size_t>(last - first), 1, capacity);
}

bool StripRing::operator==(const StripRing& other) const {
  if (size_ != other.size_) return false;
  for (size_t i = 0; i < size_; ++i)
    if ((*this)[i] != other[i]) return false;
  return true;
}

const char* kind_name(Kind kind) {
  switch (kind) {
    case Kind::Button: return "command button";
    case Kind::IntInput: return "numeric input (int)";
    case Kind::FloatInput: return "numeric input (float)";
    case Kind::Switch: return "on/off switch";
    case Kind::Display: return "display";
    case Kind::TextBox: return "text display";
    case Kind::XYGraph: return "XY graph";
    case Kind::StripChart: return "strip chart";
  }
  return "?";
}

const char* value_type_name(ValueType type) {
  switch (type) {
    case ValueType::None: return "none";
    case ValueType::Int: return "int";
    case ValueType::Float: return "float";
    case ValueType::Double: return "double";
    case ValueType::Text: return "text";
    case ValueType::Points: return "points";
    case ValueType::U16: return "u16";
  }
  return "?";
}

namespace {

// The name an operator knows a control by: its PANEL_* name without the
// prefix ("HK16").
std::string short_label(const std::string& name) {
  const std::string prefix = "PANEL_";
  return name.compare(0, prefix.size(), prefix) == 0 ? name.substr(prefix.size()) : name;
}

}  // namespace

PanelModel::PanelModel(PanelLayout layout, size_t strip_capacity)
    : layout_(std::move(layout)), strip_capacity_(strip_capacity) {
  states_.resize(layout_.controls.size());
  std::vector<LimitEntry> watched;
  for (const auto& c : layout_.controls) {
    const bool housekeeping = c.name.compare(0, 8, "PANEL_HK") == 0;
    if (c.kind == Kind::Display && c.type != ValueType::Text && (c.limits.any() || housekeeping))
      watched.push_back({c.id, short_label(c.name), c.limits, c.format});
  }
  limits_ = LimitTable(std::move(watched));
  for (size_t i = 0; i < layout_.controls.size(); ++i) {
    const int id = layout_.controls[i].id;
    if (id >= 0 && id < DENSE_IDS) {
      if (static_cast<size_t>(id) >= quick_.size()) quick_.resize(static_cast<size_t>(id) + 1);
      quick_[static_cast<size_t>(id)] = {static_cast<int>(i), layout_.controls[i].type, limits_.knows(id)};
    } else {
      sparse_index_[id] = static_cast<int>(i);
    }
  }
  title_ = layout_.title;
  for (const auto& c : layout_.controls)
    if (c.has_initial) set_double(c.id, c.initial);
}

PanelModel::Quick PanelModel::sparse_quick(int id) const {
  if (sparse_index_.empty()) return {};
  auto it = sparse_index_.find(id);
  if (it == sparse_index_.end()) return {};
  return {it->second, layout_.controls[static_cast<size_t>(it->second)].type, limits_.knows(id)};
}

const ControlInfo* PanelModel::find(int id) const {
  const int i = position(id);
  return i < 0 ? nullptr : &layout_.controls[static_cast<size_t>(i)];
}

const ControlInfo* PanelModel::find(std::string_view name) const {
  for (const auto& c : layout_.controls)
    if (c.name == name) return &c;
  return nullptr;
}

ControlState* PanelModel::slot(int id) {
  const int i = position(id);
  return i < 0 ? nullptr : &states_[static_cast<size_t>(i)];
}

const ControlState* PanelModel::slot(int id) const {
  const int i = position(id);
  return i < 0 ? nullptr : &states_[static_cast<size_t>(i)];
}

namespace {

// Values split by strip-chart trace: value k of a chunk goes to lane k mod 4.
constexpr int STRIP_CHUNK = 1024;  // a multiple of the traces
using StripLanes = uint16_t[PanelModel::STRIP_TRACES][STRIP_CHUNK / PanelModel::STRIP_TRACES];

// Deals the first `groups` groups of four values to the lanes.
void deal_strip_values(const uint16_t* v, int groups, StripLanes& lanes) {
  for (int j = 0; j < groups; ++j)
    for (int l = 0; l < PanelModel::STRIP_TRACES; ++l) lanes[l][j] = v[PanelModel::STRIP_TRACES * j + l];
}

bool is_numeric(ValueType t) {
  return t == ValueType::Int || t == ValueType::Float || t == ValueType::Double;
}

// Stores a number into whichever member the control's type uses.
template <typename T>
void store_number(ControlState& s, ValueType type, T value) {
  s.written = true;
  switch (type) {
    case ValueType::Int: s.i = static_cast<int>(value); break;
    case ValueType::Float: s.f = static_cast<float>(value); break;
    default: s.d = static_cast<double>(value); break;
  }
}

// The value a numeric control now holds, as a double.
double stored_number(const ControlState& s, ValueType type) {
  switch (type) {
    case ValueType::Int: return s.i;
    case ValueType::Float: return s.f;
    default: return s.d;
  }
}

}  // namespace

void PanelModel::note_of(int id, LimitNote* note) {
  note->level = limits_.level(id);
  note->out = note->level != LimitLevel::Normal && limits_.excursion(id, &note->excursion);
  if (note->any()) note->label.assign(limits_.entry(id)->label);
}

void PanelModel::watch_limits(int id, ControlState& s, double value, LimitNote* note) {
  note->changed = false;
  note->out = false;
  if (!limits_.knows(id)) return;
  note->changed = limits_.observe(id, value, &note->change);
  s.limit = limits_.level(id);
  note_of(id, note);
}

void PanelModel::report(const LimitNote& note) {
  if (note.changed) log_event(note.change.severity, note.change.text);
  if (note.any()) watch_limit(note.label, note.level, note.out ? &note.excursion : nullptr);
}

bool PanelModel::set_int(int id, int value) {
  Lock lock(*this);
  const Quick q = quick(id);
  if (q.position < 0 || !is_numeric(q.type)) return false;
  ControlState& s = states_[static_cast<size_t>(q.position)];
  store_number(s, q.type, value);
  touch(s);
  if (q.limited) watch_and_report(id, s, stored_number(s, q.type), lock);
  return true;
}

bool PanelModel::set_double(int id, double value) {
  Lock lock(*this);
  const Quick q = quick(id);
  double stored = 0.0;
  ControlState* s = store_double(q, value, &stored);
  if (!s) return false;
  if (q.limited) watch_and_report(id, *s, stored, lock);
  return true;
}

void PanelModel::watch_and_report(int id, ControlState& s, double value, Lock& lock) {
  // The thread's note, or a fresh one should a report set a value again.
  thread_local LimitNote kept;
  thread_local bool reporting = false;
  std::optional<LimitNote> fresh;
  LimitNote& note = reporting ? fresh.emplace() : kept;
  watch_limits(id, s, value, &note);
  lock.unlock();
  if (!note.any()) return;
  const bool outer = !reporting;
  reporting = true;
  report(note);
  if (outer) reporting = false;
}

ControlState* PanelModel::store_double(const Quick& q, double value, double* stored) {
  if (q.position < 0 || !is_numeric(q.type)) return nullptr;
  // An int control cannot show a fraction or a value out of range.
  if (q.type == ValueType::Int && !(value >= -2147483648.0 && value <= 2147483647.0)) return nullptr;
  ControlState& s = states_[static_cast<size_t>(q.position)];
  store_number(s, q.type, value);
  touch(s);
  *stored = stored_number(s, q.type);
  return &s;
}

bool PanelModel::set_float(int id, float value) {
  return set_double(id, static_cast<double>(value));
}

bool PanelModel::set_text(int id, std::string_view value) {
  Lock lock(*this);
  const Quick q = quick(id);
  if (q.position < 0 || q.type != ValueType::Text) return false;
  ControlState& s = states_[static_cast<size_t>(q.position)];
  s.text.assign(value);
  s.written = true;
  touch(s);
  return true;
}

bool PanelModel::get_int(int id, int* value) const {
  Lock lock(*this);
  const ControlInfo* c = find(id);
  if (!c || c->type != ValueType::Int) return false;
  *value = slot(id)->i;
  return true;
}

bool PanelModel::get_float(int id, float* value) const {
  Lock lock(*this);
  const ControlInfo* c = find(id);
  if (!c || c->type != ValueType::Float) return false;
  *value = slot(id)->f;
  return true;
}

bool PanelModel::get_double(int id, double* value) const {
  Lock lock(*this);
  const ControlInfo* c = find(id);
  if (!c || !is_numeric(c->type)) return false;
  const ControlState& s = *slot(id);
  switch (c->type) {
    case ValueType::Int: *value = s.i; break;
    case ValueType::Float: *value = s.f; break;
    default: *value = s.d; break;
  }
  return true;
}

bool PanelModel::get_text(int id, std::string* value) const {
  Lock lock(*this);
  const ControlInfo* c = find(id);
  if (!c || c->type != ValueType::Text) return false;
  *value = slot(id)->text;
  return true;
}

bool PanelModel::set_attr(int id, int attribute, int value) {
  Lock lock(*this);
  ControlState* s = slot(id);
  if (!s) return false;
  s->attrs[attribute] = value;
  touch(*s);
  return true;
}

int PanelModel::attr(int id, int attribute, int fallback) const {
  Lock lock(*this);
  const ControlState* s = slot(id);
  if (!s) return fallback;
  auto it = s->attrs.find(attribute);
  return it == s->attrs.end() ? fallback : it->second;
}

namespace {
bool is_graph(const ControlInfo* c) { return c && c->kind == Kind::XYGraph; }
}  // namespace

bool PanelModel::change_axis(int id, Axis ControlState::*axis, const std::function<void(Axis&)>& change) {
  Lock lock(*this);
  if (!is_graph(find(id))) return false;
  ControlState& s = *slot(id);
  change(s.*axis);
  touch(s);
  return true;
}

bool PanelModel::set_x_range(int id, double min, double max) {
  return change_axis(id, &ControlState::x, [&](Axis& a) {
    a.min = min;
    a.max = max;
    a.manual = true;
  });
}

bool PanelModel::set_y_range(int id, double min, double max) {
  return change_axis(id, &ControlState::y, [&](Axis& a) {
    a.min = min;
    a.max = max;
    a.manual = true;
  });
}

bool PanelModel::set_x_log(int id, bool log) {
  return change_axis(id, &ControlState::x, [&](Axis& a) { a.log = log; });
}

bool PanelModel::set_y_log(int id, bool log) {
  return change_axis(id, &ControlState::y, [&](Axis& a) { a.log = log; });
}

int PanelModel::add_plot(int id, Plot plot) {
  Lock lock(*this);
  if (!is_graph(find(id))) return -1;
  ControlState& s = *slot(id);
  s.plots.push_back(std::move(plot));
  touch(s);
  return static_cast<int>(s.plots.size());
}

int PanelModel::add_plot(int id, const float* x, const float* y, size_t n, const Plot& look) {
  Lock lock(*this);
  if (!is_graph(find(id))) return -1;
  ControlState& s = *slot(id);
  Plot p;
  if (!spare_plots_.empty()) {
    p = std::move(spare_plots_.back());
    spare_plots_.pop_back();
  }
  p.x.assign(x, x + n);
  p.y.assign(y, y + n);
  p.style = look.style;
  p.point = look.point;
  p.line = look.line;
  p.freq = look.freq;
  p.color = look.color;
  s.plots.push_back(std::move(p));
  touch(s);
  return static_cast<int>(s.plots.size());
}

bool PanelModel::delete_plots(int id) {
  Lock lock(*this);
  if (!is_graph(find(id))) return false;
  ControlState& s = *slot(id);
  for (Plot& p : s.plots)
    if (spare_plots_.size() < SPARE_PLOTS) spare_plots_.push_back(std::move(p));
  s.plots.clear();
  touch(s);
  return true;
}

double PanelModel::clock_s() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

bool PanelModel::strip_append(int id, const uint16_t* values, int n) {
  return strip_append(id, values, n, clock_s());
}

bool PanelModel::strip_append(int id, const uint16_t* values, int n, double t_s) {
  Lock lock(*this);
  const ControlInfo* c = find(id);
  if (!c || c->kind != Kind::StripChart || n < 0) return false;
  ControlState& s = *slot(id);
  // Value k goes to trace (strip_next + k) mod 4: each trace takes every
  // fourth value. They are first split by trace, a chunk at a time (a
  // frame's 80 in one), so that each ring takes a run of its own.
  StripLanes split;
  for (int done = 0; done < n; done += STRIP_CHUNK) {
    const int m = std::min(STRIP_CHUNK, n - done);
    const uint16_t* v = values + done;
    const int whole = m / STRIP_TRACES;
    deal_strip_values(v, whole, split);
    for (int l = 0; l < m % STRIP_TRACES; ++l) split[l][whole] = v[STRIP_TRACES * whole + l];
    for (int l = 0; l < STRIP_TRACES && l < m; ++l) {
      const size_t t = static_cast<size_t>((s.strip_next + l) % STRIP_TRACES);
      const int count = (m - l + STRIP_TRACES - 1) / STRIP_TRACES;
      s.traces[t].append(split[l], static_cast<size_t>(count), 1, strip_capacity_);
      s.appended[t] += static_cast<uint64_t>(count);
    }
  }
  s.strip_next = (s.strip_next + n) % STRIP_TRACES;
  s.stamps.push_back({s.appended, t_s});
  // The oldest stamp goes once the next one's points have all left the
  // rings: it is then no longer the start of any point still held.
  auto gone = [&s](const StripStamp& stamp) {
    for (size_t t = 0; t < STRIP_TRACES; ++t)
      if (stamp.appended[t] > s.appended[t] - s.traces[t].size()) return false;
    return true;
  };
  while (s.stamps.size() > 2 && gone(s.stamps[1])) s.stamps.pop_front();
  touch(s);
  return true;
}

void PanelModel::restore(const PanelMoment& moment) {
  Lock lock(*this);
  for (const PanelMoment::Display& d : moment.displays) {
    const ControlInfo* c = find(d.id);
    if (!c || (c->kind != Kind::Display && c->kind != Kind::TextBox)) continue;
    ControlState& s = *slot(d.id);
    if (c->type == ValueType::Text) s.text = d.written ? d.text : std::string();
    else store_number(s, c->type, d.written ? d.number : 0.0);
    s.written = d.written;
    const LimitLevel level = d.written ? d.level : LimitLevel::Normal;
    if (limits_.knows(d.id)) {
      limits_.set_level(d.id, level, d.written ? std::optional<double>(d.number) : std::nullopt);
      s.limit = level;
    }
    touch(s);
  }
  const ControlInfo* strip = moment.strip_id ? find(moment.strip_id) : nullptr;
  if (strip && strip->kind == Kind::StripChart) {
    ControlState& s = *slot(moment.strip_id);
    for (size_t t = 0; t < STRIP_TRACES; ++t) {
      const auto& points = moment.traces[t];
      const size_t keep = std::min(points.size(), strip_capacity_);
      s.traces[t].assign(points.data() + (points.size() - keep), points.data() + points.size(), strip_capacity_);
      s.appended[t] = points.size();
    }
    s.strip_next = 0;
    s.stamps.assign(moment.stamps.begin(), moment.stamps.end());
    ++s.strip_epoch;
    touch(s);
  }
}

int PanelModel::out_of_limits() const {
  Lock lock(*this);
  return limits_.out_of_limits();
}

int PanelModel::in_alarm() const {
  Lock lock(*this);
  return limits_.in_alarm();
}

std::vector<PanelModel::LimitSlot> PanelModel::limit_slots() const {
  Lock lock(*this);
  std::vector<LimitSlot> slots;
  for (const ControlInfo& c : layout_.controls) {
    const LimitEntry* e = limits_.entry(c.id);
    if (!e) continue;
    slots.push_back({c.id, e->label, e->format, c.limits, e->limits, limits_.level(c.id)});
  }
  return slots;
}

bool PanelModel::set_limits(int id, const Limits& limits) {
  LimitNote note;
  {
    Lock lock(*this);
    std::optional<LimitChange> change;
    if (!limits_.set_limits(id, limits, &change)) return false;
    ++limits_version_;
    ControlState& s = *slot(id);
    s.limit = limits_.level(id);
    touch(s);  // the window draws its level again
    note.changed = change.has_value();
    if (change) note.change = std::move(*change);
    note_of(id, &note);
  }
  report(note);
  return true;
}

uint64_t PanelModel::limits_version() const {
  Lock lock(*this);
  return limits_version_;
}

bool PanelModel::state(int id, ControlState* out) const {
  Lock lock(*this);
  const ControlState* s = slot(id);
  if (!s) return false;
  *out = *s;
  out->committed.reset();
  for (const Event& e : events_)
    if (e.id == id && e.value) out->committed = e.value;
  return true;
}

bool PanelModel::read_state(int id, const std::function<void(const ControlState&)>& look) const {
  Lock lock(*this);
  const ControlState* s = slot(id);
  if (!s) return false;
  look(*s);
  return true;
}

void PanelModel::set_title(std::string_view title) {
  Lock lock(*this);
  title_.assign(title);
  panel_version_ = ++version_;
}

std::string PanelModel::title() const {
  Lock lock(*this);
  return title_;
}

void PanelModel::set_visible(bool visible) {
  Lock lock(*this);
  visible_ = visible;
  panel_version_ = ++version_;
}

bool PanelModel::visible() const {
  Lock lock(*this);
  return visible_;
}

void PanelModel::post_event(int id) {
  Lock lock(*this);
  events_.push_back(Event{id, std::nullopt});
  event_count_.store(events_.size());
}

void PanelModel::post_event(int id, double value) {
  Lock lock(*this);
  events_.push_back(Event{id, value});
  event_count_.store(events_.size());
  // The window shows the committed value from now on.
  if (ControlState* s = slot(id)) touch(*s);
}

bool PanelModel::take_event(int* id) {
  if (event_count_.load() == 0) return false;
  LimitNote change;
  {
    Lock lock(*this);
    if (events_.empty()) return false;
    const Event e = events_.front();
    events_.pop_front();
    event_count_.store(events_.size());
    *id = e.id;
    if (e.value) {
      const Quick q = quick(e.id);
      double stored = 0.0;
      if (ControlState* s = store_double(q, *e.value, &stored)) {
        if (q.limited) watch_limits(e.id, *s, stored, &change);
      } else if (ControlState* held = slot(e.id)) {
        // Not a value the control can hold: it keeps its own, shown again.
        touch(*held);
      }
    }
  }
  report(change);
  return true;
}

size_t PanelModel::pending_events() const {
  Lock lock(*this);
  return events_.size();
}

bool PanelModel::has_event(int id) const {
  Lock lock(*this);
  return std::any_of(events_.begin(), events_.end(), [id](const Event& e) { return e.id == id; });
}

uint64_t PanelModel::version() const {
  Lock lock(*this);
  return version_;
}

std::vector<int> PanelModel::changed_since(uint64_t version) const {
  std::vector<int> ids;
  changed_since(version, &ids);
  return ids;
}

void PanelModel::changed_since(uint64_t version, std::vector<int>* ids) const {
  Lock lock(*this);
  ids->clear();
  for (size_t i = 0; i < states_.size(); ++i)
    if (states_[i].version > version) ids->push_back(layout_.controls[i].id);
}

uint64_t PanelModel::panel_version() const {
  Lock lock(*this);
  return panel_version_;
}

}  // namespace rt
