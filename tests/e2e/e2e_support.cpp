#include "e2e_support.h"

#include <cstdio>
#include <ctime>

namespace e2e {

using testing_frames::FrameBuilder;

testing_frames::Frame numbered_frame(uint32_t fcount) {
  FrameBuilder b;
  b.counter(fcount);
  b.spec256(0, 100 + static_cast<int>(fcount % 32));
  b.spec48(0, 10);
  return b.bytes;
}

std::vector<uint8_t> frames(int n, uint32_t first) {
  std::vector<uint8_t> out;
  for (int i = 0; i < n; ++i) testing_frames::append(out, numbered_frame(first + static_cast<uint32_t>(i)));
  return out;
}

std::vector<std::string> program_env() { return {"QT_QPA_PLATFORM=offscreen"}; }

Playback play(const testing_files::TempDir& dir, const std::vector<uint8_t>& recording,
              const std::string& events) {
  testing_files::write_file(dir.file("rec.dat"), recording);
  std::vector<std::string> args{"--headless", "--speed", "0", "--trace", "-"};
  if (!events.empty()) {
    testing_files::write_file(dir.file("events.txt"), {events.begin(), events.end()});
    args.insert(args.end(), {"--events", "events.txt"});
  }
  args.push_back("rec.dat");
  Playback p;
  p.result = testing_process::run(testing_process::vst_gse(), args, dir.path(), 60.0, program_env());
  p.trace = testing_trace::parse(p.result.out);
  return p;
}

std::vector<Line> Pass::select(const std::string& op, const std::string& c) const {
  return testing_trace::select(lines, op, c);
}

std::string Pass::status() const {
  auto s = select("SetCtrlVal", "PANEL_STATUS");
  return s.empty() ? "" : s.back().field("value");
}

bool Pass::good() const { return !event && status() == " "; }

size_t Pass::count(const std::string& op, const std::string& c) const { return select(op, c).size(); }

std::string Pass::summary() const {
  std::string out;
  for (const auto& l : lines) out += "\n  " + l.op + (l.ctrl.empty() ? "" : " " + l.ctrl);
  return out;
}

std::vector<Pass> passes(const std::vector<Line>& trace) {
  std::vector<Pass> out;
  bool shown = false;
  for (const auto& l : trace) {
    if (l.op == "DisplayPanel") {
      shown = true;
      continue;
    }
    if (!shown) continue;
    if (l.op == "DiscardPanel") break;
    bool pacing = l.op == "Delay" && l.number_field("seconds") == 0.1;
    if (pacing || l.op == "Event") {
      Pass p;
      p.event = l.op == "Event";
      p.ctrl = p.event ? l.ctrl : "";
      out.push_back(p);
    }
    // Lines before the first pass (a live run start) go with no pass.
    if (!out.empty()) out.back().lines.push_back(l);
  }
  return out;
}

std::vector<Pass> good_passes(const std::vector<Pass>& all) {
  std::vector<Pass> out;
  for (const auto& p : all)
    if (p.good()) out.push_back(p);
  return out;
}

std::string recording_name_at(long long t) {
  std::time_t when = static_cast<std::time_t>(t);
  std::tm local{};
  localtime_r(&when, &local);
  char name[32];
  std::snprintf(name, sizeof name, "%d%03d%02d%02d.dat", (local.tm_year + 1900) % 10, local.tm_yday,
                local.tm_hour, local.tm_min);
  return name;
}

}  // namespace e2e
