#include "session/outcome.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace rt {

namespace {

std::atomic<int> noted{EXIT_OK};
std::mutex say_mu;

}  // namespace

void note_exit_status(int status) {
  if (status < EXIT_RECORDING_LOST) return;
  int current = noted.load();
  while ((current == EXIT_OK || status < current) &&
         !noted.compare_exchange_weak(current, status)) {
  }
}

int noted_exit_status() { return noted.load(); }

int final_exit_status(int entry_result) {
  return entry_result != EXIT_OK ? entry_result : noted_exit_status();
}

void say(const std::string& line) {
  // One write for the line and its newline: another thread writing standard
  // output (the trace, with --trace -) cannot come between them.
  const std::string text = line + '\n';
  std::lock_guard lock(say_mu);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void reset_outcome_for_tests() { noted.store(EXIT_OK); }

}  // namespace rt
