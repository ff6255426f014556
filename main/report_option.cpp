#include "main/report_option.h"

#include <cstdio>
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

 private:
  std::mutex mu_;
  std::string path_;
};

RecordingFollower& follower() {
  static RecordingFollower f;
  return f;
}

}  // namespace

void report_follow_recording() { rt::add_session_observer(&follower()); }

void report_at_end(const std::string& path, const std::string& input, const std::string& version) {
  const std::string recording = input.empty() ? follower().path() : input;
  std::string error;
  if (recording.empty()) {
    error = "no report written to " + path + ": the run recorded nothing";
  } else {
    rt::ReportOptions options;
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
