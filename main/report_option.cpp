#include "main/report_option.h"

#include <cstdio>
#include <filesystem>
#include <mutex>

#include "archive/report.h"
#include "runtime/hooks.h"
#include "session/outcome.h"

namespace gse {

namespace {

class RecordingFollower : public rt::SessionObserver {
 public:
  void recording_started(const std::string& path) override {
    std::lock_guard lock(mu_);
    path_ = path;
  }
  std::string path() {
    std::lock_guard lock(mu_);
    return path_;
  }
  bool wants_alarm_rows() const override { return false; }

 private:
  std::mutex mu_;
  std::string path_;
};

RecordingFollower& follower() {
  static RecordingFollower f;
  return f;
}

}  // namespace

std::string report_input_problem(const std::string& input) {
  if (input.empty()) return "";
  const std::string why = "--report needs a recording file: ";
  if (input == "-") return why + "standard input cannot be read again once played";
  std::error_code ec;
  const auto type = std::filesystem::status(input, ec).type();
  if (ec) return "";  // the playback says why it cannot be opened
  using std::filesystem::file_type;
  if (type == file_type::fifo || type == file_type::character || type == file_type::socket)
    return why + input + " is a pipe (or a device), which cannot be read again once played";
  return "";
}

void report_follow_recording() { rt::add_session_observer(&follower()); }

void report_at_end(const std::string& path, const std::string& input, const std::vector<std::string>& values,
                   const std::string& version) {
  const std::string recording = input.empty() ? follower().path() : input;
  std::string error;
  if (recording.empty()) {
    error = "no report written to " + path + ": the run recorded nothing";
  } else {
    rt::ReportOptions options;
    options.values = values;
    options.version = version;
    if (rt::write_report(recording, path, options, &error)) {
      std::fprintf(stderr, "vst_gse: report of %s written to %s\n", recording.c_str(), path.c_str());
      return;
    }
  }
  std::fprintf(stderr, "vst_gse: %s\n", error.c_str());
  rt::note_exit_status(rt::EXIT_OUTPUT_FAILED);
}

}  // namespace gse
