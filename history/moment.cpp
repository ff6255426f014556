#include "history/moment.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <vector>

#include "display/decoder.h"
#include "history/pass.h"
#include "history/values.h"
#include "link/frame.h"
#include "present/limits.h"
#include "replay/replay.h"
#include "runtime/testing.h"
#include "session/session_log.h"

namespace rt {

namespace {

constexpr int STRIP_VALUES_PER_FRAME = 80;  // 20 groups of word, word, byte, byte
constexpr int STRIP_GROUPS = 20;
constexpr int GROUP_LEN = 6;
constexpr double PLAYBACK_PACE_S = 0.1;  // the playback reader's wait a frame
// Bytes read at a frame's offset: a recorded live frame is longer than 200
// bytes by its escapes.
constexpr size_t LINK_READ = 2 * FRAME_LEN;
constexpr int TIME_TEXT_LEN = 32;

// The displays the frames write (through the decoder and the service
// loop's frame pass), by id.
std::vector<int> frame_displays(const PanelModel& model) {
  std::set<int> ids;
  for (const ValueInfo& v : value_catalogue())
    if (const ControlInfo* c = model.find(v.control); c && !v.control.empty()) ids.insert(c->id);
  for (const char* name : {"PANEL_HEXDUMP", "PANEL_SKIPPED"})
    if (const ControlInfo* c = model.find(std::string_view(name))) ids.insert(c->id);
  return {ids.begin(), ids.end()};
}

// The service loop's hex dump of a frame.
std::string hex_dump(const uint8_t* frame) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (int i = 0; i < FRAME_LEN; ++i) {
    if (i % 32 == 0) out += '\n';
    out += digits[frame[i] >> 4];
    out += digits[frame[i] & 0x0F];
  }
  out += '\n';
  return out;
}

// Reads the frames of the recording that the index lists.
class FrameReader {
 public:
  FrameReader(const std::string& path, FrameRules rules) : rules_(rules), fp_(std::fopen(path.c_str(), "rb")) {}
  ~FrameReader() {
    if (fp_) std::fclose(fp_);
  }
  bool open() const { return fp_ != nullptr; }
  // The frame at mark `m` into `frame`; false when it is not there.
  bool read(const FrameMark& m, uint8_t* frame) {
    std::vector<uint8_t> bytes(rules_ == FrameRules::Playback ? FRAME_LEN : LINK_READ);
    if (!seek(m.offset)) return false;
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), fp_));
    if (rules_ == FrameRules::Playback) {
      if (bytes.size() != FRAME_LEN) return false;
      std::copy(bytes.begin(), bytes.end(), frame);
    } else {
      FrameScanner scanner(FrameRules::Link, true);
      scanner.feed(bytes.data(), bytes.size());
      if (scanner.frames().empty() || scanner.frames()[0].offset != 0) return false;
      std::copy(scanner.frame_bytes().begin(), scanner.frame_bytes().begin() + FRAME_LEN, frame);
    }
    return checksum_ok(frame) && fcount(frame) == m.fcount;
  }

 private:
  bool seek(int64_t offset) {
#ifdef _WIN32
    return _fseeki64(fp_, offset, SEEK_SET) == 0;
#else
    return fseeko(fp_, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
  }
  FrameRules rules_;
  std::FILE* fp_;
};

// A display's value from a frame that carries it.
void write_value(const ValueInfo& v, const uint8_t* frame, PanelMoment::Display* d) {
  d->written = true;
  if (v.field == Field::ElapsedK1) {  // the panel's time text
    char text[TIME_TEXT_LEN];
    format_elapsed(gluelong(frame + OFF_KIND_VALUE), text, TIME_TEXT_LEN);
    d->text = text;
  } else {
    d->number = decode_value(v, frame);
  }
}

// The watched displays (with the limits in force) and the values that
// write them.
struct Watched {
  int id = 0;
  Limits limits;
  double scale = 1.0;  // shown = value x scale, as the limits read it
  std::vector<const ValueInfo*> values;
};

std::vector<Watched> watched_displays(const PanelModel& model) {
  std::vector<Watched> out;
  for (const PanelModel::LimitSlot& slot : model.limit_slots()) {
    const ControlInfo* c = model.find(slot.id);
    if (!c || !slot.limits.any() || !slot.limits.enabled) continue;
    std::vector<const ValueInfo*> values;
    for (const ValueInfo* v : values_of_control(c->name))
      if (!is_link_figure(*v)) values.push_back(v);
    if (!values.empty()) out.push_back({slot.id, slot.limits, slot.format.scale, values});
  }
  return out;
}

bool writes(const Watched& w, uint32_t count) {
  return std::any_of(w.values.begin(), w.values.end(), [count](const ValueInfo* v) { return carries(*v, count); });
}

}  // namespace

PanelMoment empty_moment(const PanelModel& model) {
  PanelMoment m;
  for (int id : frame_displays(model)) m.displays.push_back({id, false, 0.0, "", LimitLevel::Normal});
  if (const ControlInfo* strip = model.find(std::string_view("PANEL_STRIP"))) m.strip_id = strip->id;
  return m;
}

bool panel_moment(const PanelModel& model, const std::string& path, FrameRules rules, const RecordingIndex& index,
                  long next, PanelMoment* out, std::string* error) {
  *out = empty_moment(model);
  if (next <= 0) return true;
  if (next > index.frames()) {
    *error = "frame " + std::to_string(next + 1) + " is not in the index";
    return false;
  }
  // The frames needed: the last of each slot and each kind (the frame before
  // is among them), those the strip chart holds, and each watched display's
  // values back to the one that settles its level.
  const long strip_frames = static_cast<long>((model.strip_capacity() + STRIP_GROUPS - 1) / STRIP_GROUPS);
  const long strip_from = std::max(0L, next - strip_frames);
  std::set<long> needed;
  for (long k = strip_from; k < next; ++k) needed.insert(k);
  std::set<int> slots, kinds;
  for (long k = next - 1; k >= 0 && (slots.size() < 40 || kinds.size() < 4); --k) {
    const uint32_t count = index.frame(k).fcount;
    const bool first_of_slot = slots.insert(static_cast<int>(count % 40)).second;
    const bool first_of_kind = kinds.insert(static_cast<int>(count % 4)).second;
    if (first_of_slot || first_of_kind) needed.insert(k);
  }
  const std::vector<Watched> watched = watched_displays(model);
  std::map<int, std::vector<long>> history;  // display id -> its frames, newest first
  for (const Watched& w : watched) {
    auto& frames = history[w.id];
    for (long k = next - 1; k >= 0 && static_cast<int>(frames.size()) < LIMIT_LOOKBACK; --k)
      if (writes(w, index.frame(k).fcount)) frames.push_back(k);
  }
  FrameReader reader(path, rules);
  if (!reader.open()) {
    *error = "cannot read " + path;
    return false;
  }
  std::map<long, std::array<uint8_t, FRAME_LEN>> frames;
  auto frame_of = [&](long k) -> const uint8_t* {
    auto it = frames.find(k);
    if (it != frames.end()) return it->second.data();
    std::array<uint8_t, FRAME_LEN> f{};
    if (!reader.read(index.frame(k), f.data())) return nullptr;
    return frames.emplace(k, f).first->second.data();
  };
  for (long k : needed) {
    if (!frame_of(k)) {
      *error = "frame " + std::to_string(k + 1) + " of " + path + " is not where the index has it (the file changed)";
      return false;
    }
  }

  // Each display as the last frame that wrote it left it.
  std::map<int, PanelMoment::Display*> by_id;
  for (auto& d : out->displays) by_id[d.id] = &d;
  for (long k : needed) {
    const uint8_t* frame = frames.at(k).data();
    const uint32_t count = fcount(frame);
    for (const ValueInfo& v : value_catalogue()) {
      if (v.control.empty() || is_link_figure(v) || !carries(v, count)) continue;
      const ControlInfo* c = model.find(v.control);
      if (c && by_id.count(c->id)) write_value(v, frame, by_id[c->id]);
    }
  }
  const FrameMark before = index.frame(next - 1);
  if (const ControlInfo* c = model.find(std::string_view("PANEL_HEXDUMP")); c && by_id.count(c->id)) {
    by_id[c->id]->written = true;
    by_id[c->id]->text = hex_dump(frames.at(next - 1).data());
  }
  if (const ControlInfo* c = model.find(std::string_view("PANEL_SKIPPED")); c && by_id.count(c->id)) {
    by_id[c->id]->written = true;
    by_id[c->id]->number = before.skipped;
  }

  // Limit levels: from the newest value that settles the level whatever
  // came before (else from the oldest looked at), on to the last.
  for (const Watched& w : watched) {
    const auto& ks = history[w.id];
    if (ks.empty()) continue;
    const Limits& limits = w.limits;
    const double scale = w.scale;
    auto shown = [&](long k) -> double {
      const uint8_t* frame = frame_of(k);
      if (!frame) return 0.0;
      for (const ValueInfo* v : w.values)
        if (carries(*v, fcount(frame))) return decode_value(*v, frame) * scale;
      return 0.0;
    };
    size_t from = ks.size() - 1;
    for (size_t i = 0; i < ks.size(); ++i) {
      const double v = shown(ks[i]);
      if (next_limit_level(limits, LimitLevel::Normal, v) == next_limit_level(limits, LimitLevel::Alarm, v)) {
        from = i;
        break;
      }
    }
    LimitLevel level = LimitLevel::Normal;
    for (size_t i = from + 1; i-- > 0;) level = next_limit_level(limits, level, shown(ks[i]));
    if (by_id.count(w.id)) by_id[w.id]->level = level;
  }

  // The strip chart: the samples of the frames before, each frame's at the
  // playback's pace before now.
  if (out->strip_id) {
    const double now = model.clock_s();
    std::array<uint64_t, 4> appended{};
    for (long k = strip_from; k < next; ++k) {
      const uint8_t* frame = frames.at(k).data();
      for (int g = 0; g < STRIP_GROUPS; ++g) {
        const uint8_t* group = frame + OFF_STRIP + GROUP_LEN * g;
        const uint16_t values[4] = {static_cast<uint16_t>(glueshort(group)),
                                    static_cast<uint16_t>(glueshort(group + 2)), group[4], group[5]};
        for (int t = 0; t < 4; ++t) out->traces[static_cast<size_t>(t)].push_back(values[t]);
      }
      for (auto& n : appended) n += STRIP_VALUES_PER_FRAME / 4;
      out->stamps.push_back({appended, now - PLAYBACK_PACE_S * static_cast<double>(next - 1 - k)});
    }
  }
  return true;
}

namespace {

class MomentKeeper : public MoveListener {
 public:
  void input_moved(const std::string& path, FrameRules rules, const std::shared_ptr<const RecordingIndex>& index,
                   long next, int64_t offset) override {
    pass_follow(path);  // another recording (Open recording): its own pass
    PanelModel* model = current_model();
    if (!model) return;
    const bool ready = index && index->state() == RecordingIndex::State::Ready;
    PanelMoment moment;
    std::string error;
    if (next <= 0 || !ready) {
      moment = empty_moment(*model);
    } else if (!panel_moment(*model, path, rules, *index, next, &moment, &error)) {
      // Rather than mix moments, the panel starts afresh from this frame.
      log_warning("The panel could not be put back to frame " + std::to_string(next + 1) + ": " + error +
                  "; its displays start empty from there, as at a fresh start");
      moment = empty_moment(*model);
    }
    model->restore(moment);
    // The discarded-byte count a reading from the start has when standing
    // where the input now stands: so the skipped count shown with the next
    // frame is that frame's.
    int32_t target = nskip_count();
    if (ready && next < index->frames() && index->frame(next).offset == offset) target = index->frame(next).skipped;
    else if (offset == 0) target = 0;
    nskip_add(target - nskip_count());
  }
};

}  // namespace

void moment_install() {
  static MomentKeeper keeper;
  replay_set_move_listener(&keeper);
}

}  // namespace rt
