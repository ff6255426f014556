// The queue behind the trace and the message streams, on a real pipe: a
// reader that stalls holds up no caller, and every way the output can fail
// is reported once, with its reason.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "session/output_queue.h"
#include "support/process.h"

namespace {

struct Reports {
  std::mutex mu;
  std::vector<std::string> reasons;
  rt::OutputQueue::Report sink() {
    return [this](const std::string& r) {
      std::lock_guard lock(mu);
      reasons.push_back(r);
    };
  }
  std::vector<std::string> get() {
    std::lock_guard lock(mu);
    return reasons;
  }
};

// Reads the pipe to its end.
std::string read_all(int fd) {
  std::string out;
  char buf[4096];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  return out;
}

TEST(OutputQueue, a_reader_that_stalls_or_leaves_holds_up_no_caller_and_fails_the_output_once) {
  signal(SIGPIPE, SIG_IGN);  // as the program does
  const std::string line(1000, 'x');
  constexpr size_t BOUND = 64 * 1024;  // with the pipe's own 64 KiB: 128 lines fit
  struct Case {
    const char* name;
    bool may_wait;
    bool reader_leaves;
    const char* reason;  // the one report, "" for none
  };
  const Case cases[] = {
      {"stalled reader, caller may not wait", false, false, "its reader does not keep up"},
      {"stalled reader, caller may wait", true, false, ""},
      {"reader gone", false, true, "Broken pipe"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    if (c.reader_leaves) close(fds[0]);
    Reports reports;
    rt::OutputQueue queue(fds[1], true, BOUND, reports.sink());
    std::atomic<bool> reading{false};
    std::string got;
    std::thread reader;
    const rt::OutputQueue::MayWait may_wait = [&] {
      // The caller meets a full queue: the reader comes back.
      if (!reading.exchange(true)) reader = std::thread([&] { got = read_all(fds[0]); });
      return true;
    };
    size_t pushed = 0;
    for (int i = 0; i < 300; ++i) {
      pushed += queue.push(line + "\n", c.may_wait ? may_wait : nullptr);
      // The writer meets the reader's absence with its first line.
      if (c.reader_leaves && i == 0) {
        EXPECT_TRUE(testing_process::wait_until(10.0, [&] { return !reports.get().empty(); }));
      }
    }
    EXPECT_EQ(queue.close([] { return false; }), *c.reason == '\0');
    if (reader.joinable()) reader.join();
    if (!c.reader_leaves) close(fds[0]);
    const auto said = reports.get();
    if (*c.reason == '\0') {
      EXPECT_TRUE(said.empty()) << said.front();
      EXPECT_EQ(pushed, 300u);
      EXPECT_EQ(got.size(), 300 * (line.size() + 1)) << "every line, in order";
    } else {
      ASSERT_EQ(said.size(), 1u) << "reported once";
      EXPECT_NE(said[0].find(c.reason), std::string::npos) << said[0];
      EXPECT_LT(pushed, 300u) << "the text after the failure is refused";
    }
  }
}

TEST(OutputQueue, closing_gives_up_on_a_stalled_reader_when_told_and_says_what_was_left) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  Reports reports;
  rt::OutputQueue queue(fds[1], true, 64 * 1024, reports.sink());
  const std::string text(200 * 1024, 'y');  // more than the pipe holds, and than the bound
  ASSERT_TRUE(queue.push(text)) << "one text is taken whole when nothing waits before it";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(queue.close([&] { return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(100); }));
  const auto said = reports.get();
  ASSERT_EQ(said.size(), 1u);
  EXPECT_NE(said[0].find("bytes were still waiting for its reader when the program ended"), std::string::npos)
      << said[0];
  close(fds[0]);
}

// A descriptor no process can have: the write fails, and so does the close.
TEST(OutputQueue, a_descriptor_that_fails_its_write_and_its_close_is_reported_once) {
  Reports reports;
  rt::OutputQueue queue(1 << 24, true, 1024, reports.sink());
  queue.push("x\n");
  EXPECT_FALSE(queue.close([] { return false; }));
  const auto said = reports.get();
  ASSERT_EQ(said.size(), 1u) << said.back();
  EXPECT_NE(said[0].find("Bad file descriptor"), std::string::npos) << said[0];
}

}  // namespace
