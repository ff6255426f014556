// The page feed (page_feed.h): the panel's extras, read on the system's
// thread, kept as the latest body of each retained topic until the
// publisher's thread takes them.
#include "publish/page_feed.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>

#include "present/json.h"
#include "publish/publisher.h"
#include "runtime/context.h"
#include "runtime/hooks.h"
#include "runtime/model.h"
#include "runtime/ui.h"

namespace rt {

namespace {

int64_t unix_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The latest body of a retained topic (the JSON members after the session
// and the time) and how many times it changed; `sent` is what the
// publisher's thread took last.
struct Latest {
  std::string body;
  uint64_t changes = 0;
  uint64_t sent = 0;
};

std::atomic<bool> following{true};  // page_feed_follow

std::mutex mu;  // the three below, between the system's thread and the publisher's
Latest panel_latest, spectra_latest, status_latest;

void put(Latest& latest, std::string body) {
  std::lock_guard lock(mu);
  if (latest.changes > 0 && latest.body == body) return;
  latest.body = std::move(body);
  ++latest.changes;
}

const char* type_word(ValueType type) {
  switch (type) {
    case ValueType::Int: return "int";
    case ValueType::Text: return "text";
    default: return "double";
  }
}

std::string format_word(const DisplayFormat& f) {
  switch (f.style) {
    case DisplayFormat::Style::Fixed: return "fixed:" + std::to_string(f.digits);
    case DisplayFormat::Style::Digits: return "digits:" + std::to_string(f.digits);
    case DisplayFormat::Style::Float32: return "float";
    case DisplayFormat::Style::Auto: break;
  }
  return "auto";
}

// [low, high], an open end null.
std::string range_json(const std::optional<LimitRange>& r) {
  if (!r) return "null";
  const auto end = [](double v) { return std::isfinite(v) ? json_double(v) : std::string("null"); };
  return "[" + end(r->low) + "," + end(r->high) + "]";
}

std::string name_of(const ControlInfo& c) { return c.name.rfind("PANEL_", 0) == 0 ? c.name.substr(6) : c.name; }

std::string axis_json(const Axis& a) {
  return "{\"min\":" + json_double(a.min) + ",\"max\":" + json_double(a.max) +
         ",\"manual\":" + (a.manual ? "true" : "false") + ",\"log\":" + (a.log ? "true" : "false") + "}";
}

std::string floats_json(const std::vector<float>& v) {
  std::string out = "[";
  for (size_t i = 0; i < v.size(); ++i) {
    if (i) out += ',';
    out += json_float(v[i]);
  }
  return out + "]";
}

std::string colour_json(int rgb) {
  char text[16];
  std::snprintf(text, sizeof text, "\"#%06X\"", static_cast<unsigned>(rgb) & 0xFFFFFFu);
  return text;
}

class Feed : public FrameObserver {
 public:
  void panel_loaded(const PanelModel& m) override {
    if (!following.load(std::memory_order_relaxed)) return;
    model_ = &m;
    const auto id_of = [&](std::string_view name) {
      const ControlInfo* c = m.find(name);
      return c ? c->id : 0;
    };
    strip_ = id_of("PANEL_STRIP");
    graphs_ = {id_of("PANEL_SPEC48"), id_of("PANEL_SPEC256")};
    count_ = id_of("PANEL_COUNT");
    accum_ = id_of("PANEL_ACCUM");
    limits_seen_ = ~uint64_t{0};
    panel_seen_ = ~uint64_t{0};
    spectra_seen_ = 0;
    spectra_taken_s_ = -std::numeric_limits<double>::infinity();
    status_said_ = false;
    look(m, m.clock_s());
  }

  void good_frame(const PanelModel& m) override {
    if (!following.load(std::memory_order_relaxed)) return;
    // The time of the frame's strip append, on the panel's clock: no clock
    // read of the feed's own at every frame.
    double now_s = -1.0;
    if (strip_)
      m.read_state(strip_, [&](const ControlState& s) {
        if (!s.stamps.empty()) now_s = s.stamps.back().t_s;
      });
    look(m, now_s >= 0.0 ? now_s : m.clock_s());
    status(GOOD_FRAME_TEXT);
  }

  void failed_frame(std::string_view text) override {
    if (!following.load(std::memory_order_relaxed)) return;
    // Only ever called while the loaded panel shows `text`.
    if (model_) look(*model_, model_->clock_s());
    status(text);
  }

  // The points of the strip chart's last append (the good frame's), with
  // its time.
  void strip_points(const PanelModel& m, FrameRecord* frame) const {
    if (!strip_) return;
    // Read in place: a copy of the state would copy every ring at every frame.
    m.read_state(strip_, [&](const ControlState& s) {
      if (s.stamps.empty()) return;
      const StripStamp& last = s.stamps.back();
      for (size_t t = 0; t < s.traces.size(); ++t) {
        const uint64_t before = s.stamps.size() > 1 ? s.stamps[s.stamps.size() - 2].appended[t] : 0;
        const auto& ring = s.traces[t];
        // Only points still in the ring, and only as many as the ring holds
        // since that append.
        const uint64_t in_ring_from = s.appended[t] - ring.size();
        const uint64_t from = std::max(before, in_ring_from), to = std::min(last.appended[t], s.appended[t]);
        if (to <= from) continue;
        std::vector<uint16_t>& points = frame->strip[t];
        points.resize(static_cast<size_t>(to - from));
        for (uint64_t k = from; k < to; ++k) points[static_cast<size_t>(k - from)] = ring[static_cast<size_t>(k - in_ring_from)];
      }
      frame->strip_t_s = last.t_s;
    });
  }

 private:
  // `now_s`: the panel's clock (PanelModel::clock_s).
  void look(const PanelModel& m, double now_s) {
    // The title is read again only when the panel's version says it may
    // have changed (not a copy of it at every frame).
    const uint64_t panel = m.panel_version();
    if (m.limits_version() != limits_seen_ || (panel != panel_seen_ && m.title() != title_seen_)) {
      limits_seen_ = m.limits_version();
      title_seen_ = m.title();
      put(panel_latest, panel_body(m));
    }
    panel_seen_ = panel;
    if (now_s - spectra_taken_s_ < SPECTRA_EVERY_MS / 1000.0) return;
    // Their versions only: no copy of the plots while they stay the same.
    uint64_t version = 0;
    for (int id : {graphs_[0], graphs_[1], count_, accum_})
      if (id) m.read_state(id, [&](const ControlState& s) { version = std::max(version, s.version); });
    if (version == spectra_seen_) return;
    spectra_seen_ = version;
    spectra_taken_s_ = now_s;
    put(spectra_latest, spectra_body(m));
  }

  // Only a change of the text: a blank after each good frame is the rule
  // a subscriber knows (docs/mqtt.md), not news.
  void status(std::string_view text) {
    uint64_t seq = 0;
    publish_current_seq(&seq);
    // A new publishing counts its frames from 1: say the text again.
    if (status_said_ && text == status_seen_ && seq >= status_seq_) return;
    status_said_ = true;
    status_seen_ = text;
    status_seq_ = seq;
    put(status_latest, "\"after_seq\":" + std::to_string(seq) + ",\"status\":" + json_string(text));
  }

  static std::string panel_body(const PanelModel& m) {
    std::map<int, const PanelModel::LimitSlot*> slots;
    const std::vector<PanelModel::LimitSlot> in_force = m.limit_slots();
    for (const auto& slot : in_force) slots[slot.id] = &slot;
    std::string out = "\"title\":" + json_string(m.title()) + ",\"displays\":[";
    bool first = true;
    for (const ControlInfo& c : m.layout().controls) {
      if (c.kind != Kind::Display && c.kind != Kind::TextBox) continue;
      out += first ? "{" : ",{";
      first = false;
      out += "\"name\":" + json_string(name_of(c)) + ",\"type\":\"" + type_word(c.type) + "\"";
      if (c.type != ValueType::Text && c.type != ValueType::Int)
        out += ",\"format\":\"" + format_word(c.format) + "\"";
      if (!c.format.unit.empty()) out += ",\"unit\":" + json_string(c.format.unit);
      const auto slot = slots.find(c.id);
      if (slot != slots.end() && slot->second->limits.any()) {
        const Limits& l = slot->second->limits;
        out += ",\"limits\":{\"caution\":" + range_json(l.caution) + ",\"alarm\":" + range_json(l.alarm) +
               ",\"enabled\":" + (l.enabled ? "true" : "false") + ",\"text\":" +
               json_string(describe_limits(l, c.format)) + "}";
      }
      out += "}";
    }
    out += "],\"strip\":{\"capacity\":" + std::to_string(m.strip_capacity()) + "}";
    return out;
  }

  std::string spectra_body(const PanelModel& m) const {
    std::string out = "\"graphs\":{";
    bool first = true;
    for (int id : graphs_) {
      ControlState s;
      const ControlInfo* c = m.find(id);
      if (!c || !m.state(id, &s)) continue;
      out += (first ? "" : ",") + json_string(name_of(*c)) + ":{\"x\":" + axis_json(s.x) + ",\"y\":" + axis_json(s.y) +
             ",\"plots\":[";
      first = false;
      for (size_t p = 0; p < s.plots.size(); ++p) {
        const Plot& plot = s.plots[p];
        out += (p ? ",{" : "{") + std::string("\"color\":") + colour_json(plot.color) + ",\"x\":" + floats_json(plot.x) +
               ",\"y\":" + floats_json(plot.y) + "}";
      }
      out += "]}";
    }
    out += "}";
    int left = 0, accumulate = 0;
    if (count_ && m.get_int(count_, &left))
      out += ",\"frames_left\":" + std::to_string(left) +
             ",\"frames_left_done\":" + (m.attr(count_, ATTR_DONE_LOOK) == DONE_LOOK_ON ? "true" : "false");
    if (accum_ && m.get_int(accum_, &accumulate)) out += ",\"accumulate\":" + std::string(accumulate ? "true" : "false");
    return out;
  }

  const PanelModel* model_ = nullptr;
  int strip_ = 0, count_ = 0, accum_ = 0;
  std::array<int, 2> graphs_{};
  uint64_t limits_seen_ = ~uint64_t{0};
  std::string title_seen_;
  uint64_t panel_seen_ = ~uint64_t{0};
  uint64_t spectra_seen_ = 0;
  double spectra_taken_s_ = 0.0;  // on the panel's clock
  bool status_said_ = false;
  std::string status_seen_;
  uint64_t status_seq_ = 0;
};

Feed& feed() {
  static Feed f;
  return f;
}

std::string message(const StationInfo& station, const std::string& body) {
  const int64_t now = unix_ms();
  return "{\"session\":" + json_string(station.session) + ",\"mode\":" + json_string(station.mode) +
         ",\"time_ms\":" + std::to_string(now) +
         ",\"time\":" + json_string(utc_time_text(now)) + (body.empty() ? "" : "," + body) + "}";
}

}  // namespace

FrameObserver* page_feed_observer() { return &feed(); }

void page_feed_follow(bool on) { following.store(on); }

void page_feed_frame(const PanelModel& model, FrameRecord* frame) { feed().strip_points(model, frame); }

std::vector<PageMessage> page_feed_take(const StationInfo& station, bool all) {
  std::vector<PageMessage> out;
  std::lock_guard lock(mu);
  for (auto [latest, leaf] : {std::pair{&panel_latest, TOPIC_PANEL}, std::pair{&spectra_latest, TOPIC_SPECTRA},
                              std::pair{&status_latest, TOPIC_LINK_STATUS}}) {
    if (latest->changes == 0 || (!all && latest->sent == latest->changes)) continue;
    latest->sent = latest->changes;
    out.push_back({leaf, message(station, latest->body), true});
  }
  return out;
}

namespace {

// The decimal digits of 0 to 99, two characters each.
struct DigitPairs {
  char text[200];
  constexpr DigitPairs() : text() {
    for (int i = 0; i < 100; ++i) {
      text[2 * i] = static_cast<char>('0' + i / 10);
      text[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
  }
};
constexpr DigitPairs PAIRS;

// A point (0 to 65535) in decimal at `p`, two digits at a time; returns the
// end. Eighty points a frame.
char* put_point(char* p, unsigned v) {
  const auto pair = [](char* at, unsigned two) { std::memcpy(at, PAIRS.text + 2 * two, 2); };
  if (v < 10) {
    *p = static_cast<char>('0' + v);
    return p + 1;
  }
  if (v < 100) {
    pair(p, v);
    return p + 2;
  }
  if (v < 1000) {
    *p = static_cast<char>('0' + v / 100);
    pair(p + 1, v % 100);
    return p + 3;
  }
  if (v < 10000) {
    pair(p, v / 100);
    pair(p + 2, v % 100);
    return p + 4;
  }
  const unsigned rest = v % 10000;
  *p = static_cast<char>('0' + v / 10000);
  pair(p + 1, rest / 100);
  pair(p + 3, rest % 100);
  return p + 5;
}

// A trace's points, "[v,v,...]": written straight into room made for the
// longest text (five digits and a comma a point), then trimmed; the points
// are most of a strip message's bytes.
void append_trace(std::string& o, const std::vector<uint16_t>& points) {
  const size_t at = o.size();
  o.resize(at + 2 + points.size() * 6);
  char* p = o.data() + at;
  *p++ = '[';
  for (size_t i = 0; i < points.size(); ++i) {
    if (i) *p++ = ',';
    p = put_point(p, points[i]);
  }
  *p++ = ']';
  o.resize(static_cast<size_t>(p - o.data()));
}

void append_points(std::string& o, const StripPoints& p) {
  o += "\"seq\":";
  json_append_integer(o, static_cast<long long>(p.seq));
  o += ",\"t_s\":";
  json_append_double(o, p.t_s);
  o += ",\"traces\":[";
  for (size_t t = 0; t < p.traces.size(); ++t) {
    if (t) o += ',';
    append_trace(o, p.traces[t]);
  }
  o += "]";
}

}  // namespace

void strip_json(const StripPoints* parts, size_t n, const StationInfo& station, std::string* out) {
  const StripPoints& last = parts[n - 1];
  std::string& o = *out;
  o.assign("{\"session\":");
  json_append_string(o, station.session);
  o += ",\"mode\":";
  json_append_string(o, station.mode);
  o += ",\"time_ms\":";
  json_append_integer(o, last.time_ms);
  o += ",\"time\":\"";
  append_utc_time(o, last.time_ms);
  o += "\",";
  append_points(o, last);
  if (n > 1) {
    o += ",\"earlier\":[";
    for (size_t k = 0; k + 1 < n; ++k) {
      o += k ? ",{" : "{";
      append_points(o, parts[k]);
      o += "}";
    }
    o += "]";
  }
  o += "}";
}

std::string strip_json(const FrameRecord& frame, const StationInfo& station) {
  StripPoints p;
  p.seq = frame.seq;
  p.time_ms = frame.time_ms;
  p.t_s = frame.strip_t_s;
  p.traces = frame.strip;
  std::string out;
  strip_json(&p, 1, station, &out);
  return out;
}

void page_feed_reset_for_tests() {
  std::lock_guard lock(mu);
  panel_latest = spectra_latest = status_latest = Latest{};
}

}  // namespace rt
