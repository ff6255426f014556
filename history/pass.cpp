#include "history/pass.h"

#include <algorithm>
#include <filesystem>
#include <mutex>

#include "history/time_axis.h"
#include "present/json.h"
#include "runtime/session_watch.h"
#include "runtime/transport.h"
#include "session/local_time.h"
#include "session/outcome.h"
#include "session/session_log.h"
#include "session/session_summary.h"

namespace rt {

bool Pass::time_at(int64_t offset, double* t_s, bool* estimated) const {
  if (!frames || frames->frames.empty()) return false;
  const auto& f = frames->frames;
  // The last frame that begins at or before the byte (frames without an
  // offset never reached the recording: they place nothing).
  auto it = std::upper_bound(f.begin(), f.end(), offset,
                             [](int64_t o, const LiveFrame& s) { return o < s.offset; });
  while (it != f.begin() && std::prev(it)->offset < 0) --it;
  if (it == f.begin()) {
    *t_s = f.front().t_s;
    if (estimated) *estimated = false;
    return true;
  }
  const LiveFrame& at = *std::prev(it);
  const bool beyond = offset >= frames->covers;
  *t_s = beyond ? at.t_s + static_cast<double>(offset - at.offset) / RECORDING_BYTES_PER_S : at.t_s;
  if (estimated) *estimated = beyond;
  return true;
}

size_t Pass::frame_at_time(double t_s) const {
  if (!frames) return 0;
  const auto& f = frames->frames;
  return static_cast<size_t>(std::lower_bound(f.begin(), f.end(), t_s,
                                              [](const LiveFrame& s, double t) { return s.t_s < t; }) -
                             f.begin());
}

std::vector<const PassEvent*> Pass::notes() const {
  std::vector<const PassEvent*> out;
  for (const PassEvent& e : events)
    if (e.kind == "note") out.push_back(&e);
  return out;
}

namespace {

struct Keeper {
  std::mutex mu;
  PassReader reader;
  std::string path;  // the recording whose pass was looked for last
  std::shared_ptr<const Pass> pass;
};

Keeper& keeper() {
  static Keeper k;
  return k;
}

}  // namespace

void set_pass_reader(PassReader reader) {
  std::lock_guard lock(keeper().mu);
  keeper().reader = std::move(reader);
}

PassFound read_pass(const std::string& recording, Pass* out, std::string* why) {
  PassReader reader;
  {
    std::lock_guard lock(keeper().mu);
    reader = keeper().reader;
  }
  if (!reader || recording.empty() || recording == "-") return PassFound::None;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(recording, ec)) return PassFound::None;
  return reader(recording, out, why);
}

void pass_follow(const std::string& path) {
  {
    std::lock_guard lock(keeper().mu);
    if (path == keeper().path) return;
    keeper().path = path;
    keeper().pass.reset();
  }
  auto pass = std::make_shared<Pass>();
  std::string why;
  const PassFound found = read_pass(path, pass.get(), &why);
  if (found == PassFound::Refused) {
    say(why);
    log_warning(why);
    watch_show_recorded_alarms(nullptr);
    return;
  }
  if (found == PassFound::None) {
    watch_show_recorded_alarms(nullptr);
    return;
  }
  const auto& f = pass->frames->frames;
  std::string text = "session record " + pass->record_path + ": " + std::to_string(f.size()) + " frames";
  if (!f.empty())
    text += " received from " + clock_text(f.front().t_s, 3, true) + " to " + clock_text(f.back().t_s, 3, true);
  log_info(text + "; the pass's own times, alarms and notes are shown");
  if (!pass->note.empty()) log_warning(pass->note);
  auto rows = std::make_shared<std::vector<Alarm>>();
  for (const PassAlarm& a : pass->alarms) rows->push_back(a.row);
  watch_show_recorded_alarms(rows);
  std::lock_guard lock(keeper().mu);
  if (keeper().path == path) keeper().pass = std::move(pass);
}

std::shared_ptr<const Pass> playback_pass() {
  std::lock_guard lock(keeper().mu);
  return keeper().pass;
}

void reset_playback_pass() {
  std::lock_guard lock(keeper().mu);
  keeper().path.clear();
  keeper().pass.reset();
}

void add_pass_summary() {
  const auto pass = playback_pass();
  if (!pass || !transport_is_playback()) return;
  SummaryPart part;
  part.key = "pass";
  const auto& f = pass->frames->frames;
  const PassRun* first = pass->runs.empty() ? nullptr : &pass->runs.front();
  const double from = f.empty() ? (first ? first->started : 0.0) : f.front().t_s;
  const double to = f.empty() ? from : f.back().t_s;
  std::string where = first ? first->mode + " on " + first->source : "";
  if (first && !first->device.empty()) where += " (" + first->device + ")";
  part.lines.push_back("  pass (session record " + pass->record_path + "): " + where + ", " + clock_text(from, 3, true) +
                       " to " + clock_text(to, 3, true) + " (" + duration_text(to - from) + "), " +
                       std::to_string(f.size()) + " frames, " + std::to_string(pass->alarms.size()) + " alarms, " +
                       std::to_string(pass->notes().size()) + " notes" +
                       (first ? ", vst_gse " + first->version : ""));
  if (!pass->note.empty()) part.lines.push_back("    " + pass->note);
  for (const PassEvent* n : pass->notes())
    part.lines.push_back("    note " + clock_text(n->t_s, 3, true) + " " + n->text);
  std::string notes = "[";
  for (const PassEvent* n : pass->notes())
    notes += (notes.size() > 1 ? "," : "") + std::string("{\"time\":") + json_string(clock_text(n->t_s, 3, true)) +
             ",\"text\":" + json_string(n->text) + "}";
  notes += "]";
  part.json = "{\"record\":" + json_string(pass->record_path) + ",\"source\":" +
              json_string(first ? first->source : "") + ",\"device\":" + json_string(first ? first->device : "") +
              ",\"started\":" + json_string(clock_text(from, 3, true)) + ",\"ended\":" +
              json_string(clock_text(to, 3, true)) + ",\"frames\":" + std::to_string(f.size()) +
              ",\"alarms\":" + std::to_string(pass->alarms.size()) + ",\"notes\":" + notes +
              ",\"estimated\":" + json_string(pass->note) + "}";
  session_add_summary_part(std::move(part));
}

}  // namespace rt
