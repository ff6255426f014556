// A headless live session of the built vst_gse writing its trace, log and
// summary in a fresh folder, for the tests that read what the station says.
#pragma once

#include <signal.h>

#include <memory>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/process.h"
#include "support/trace_reader.h"

namespace health_testing {

constexpr double STATION_WAIT_S = 30.0;  // generous: the machine may be loaded

struct HeadlessStation {
  testing_files::TempDir dir;
  std::unique_ptr<testing_process::Child> program;

  // Starts the station on `port` (a pty's slave, or a link to one).
  void start(const std::string& port) {
    program = std::make_unique<testing_process::Child>(
        testing_process::vst_gse(),
        std::vector<std::string>{"--headless", "--port", port, "--trace", "trace.jsonl", "--log", "session.log",
                                 "--summary", "summary.json"},
        dir.path(), dir.file("stdout.txt"));
  }
  std::string log() const { return testing_files::read_text(dir.file("session.log")); }
  std::string summary() const { return testing_files::read_text(dir.file("summary.json")); }
  // The trace's whole lines so far.
  std::vector<testing_trace::Line> trace() const {
    std::string text = testing_files::read_text(dir.file("trace.jsonl"));
    text.resize(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
    return testing_trace::parse(text);
  }
  // Whether the log says `text` within `timeout_s`.
  bool log_has(const std::string& text, double timeout_s = STATION_WAIT_S) const {
    return testing_process::wait_until(timeout_s, [&] { return log().find(text) != std::string::npos; });
  }
  // Whether the trace holds `text` within STATION_WAIT_S.
  bool traced(const std::string& text) const {
    return testing_process::wait_until(STATION_WAIT_S, [&] {
      return testing_files::read_text(dir.file("trace.jsonl")).find(text) != std::string::npos;
    });
  }
  // Ends the session as a SIGTERM does; its exit status.
  int quit() {
    program->signal(SIGTERM);
    return program->wait(STATION_WAIT_S);
  }
};

}  // namespace health_testing
