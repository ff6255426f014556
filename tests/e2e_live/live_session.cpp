#include "live_session.h"

#include <signal.h>

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

namespace live_testing {

using testing_trace::Line;

LiveSession::LiveSession(const std::string& events, const std::vector<uint8_t>& pending,
                         const std::function<void(const testing_files::TempDir&)>& prepare) {
  if (prepare) prepare(dir_);
  if (!pending.empty()) link_.send(pending);
  std::vector<std::string> args{"--headless", "--port", link_.slave_path(), "--trace",
                                trace_path()};
  if (!events.empty()) {
    const std::string path = dir_.file("events.txt");
    testing_files::write_file(path, std::vector<uint8_t>(events.begin(), events.end()));
    args.push_back("--events");
    args.push_back(path);
  }
  child_ = std::make_unique<testing_process::Child>(testing_process::vst_gse(), args,
                                                    dir_.path(), dir_.file("stdout.txt"));
}

std::vector<Line> LiveSession::trace() const {
  std::string text = testing_files::read_text(trace_path());
  // A line being written is not yet whole.
  const size_t last_newline = text.rfind('\n');
  text.resize(last_newline == std::string::npos ? 0 : last_newline + 1);
  return testing_trace::parse(text);
}

bool LiveSession::wait_for_status(const std::string& value, double timeout_s) const {
  return testing_process::wait_until(timeout_s, [&] {
    const auto statuses = values_of(trace(), "PANEL_STATUS");
    return std::find(statuses.begin(), statuses.end(), value) != statuses.end();
  });
}

bool LiveSession::wait_for_lines(size_t n, const std::string& op, const std::string& ctrl,
                                 double timeout_s) const {
  return testing_process::wait_until(
      timeout_s, [&] { return testing_trace::select(trace(), op, ctrl).size() >= n; });
}

std::vector<std::string> LiveSession::recordings() const {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
    if (entry.path().extension() == ".dat") found.push_back(entry.path().string());
  return found;
}

std::vector<uint8_t> LiveSession::recording() const {
  const auto found = recordings();
  EXPECT_EQ(found.size(), 1u) << "one recording file in " << dir_.path();
  return found.empty() ? std::vector<uint8_t>{} : testing_files::read_file(found.front());
}

int LiveSession::quit_by_signal(double timeout_s) {
  child_->signal(SIGTERM);
  return child_->wait(timeout_s);
}

std::vector<std::string> values_of(const std::vector<Line>& lines, const std::string& ctrl) {
  std::vector<std::string> values;
  for (const auto& line : testing_trace::select(lines, "SetCtrlVal", ctrl))
    values.push_back(line.field("value"));
  return values;
}

std::string hex_sent(const std::vector<Line>& lines, const std::string& op) {
  std::string all;
  for (const auto& line : testing_trace::select(lines, op)) all += line.field("hex");
  return all;
}

size_t find_op(const std::vector<Line>& lines, const std::string& op, size_t from) {
  for (size_t i = from; i < lines.size(); ++i)
    if (lines[i].op == op) return i;
  return lines.size();
}

}  // namespace live_testing
