// The harness cleans up after itself: a program a test started dies with the
// test, however the test ends, and a survivor is found, named and killed at
// the end of the run, while unmarked processes and those of another ctest
// run are left alone.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "support/files.h"
#include "support/process.h"

namespace {

using testing_process::wait_until;

bool alive(pid_t pid) {
  // A zombie waiting for its new parent to reap it counts as gone.
  FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
  if (!f) return false;
  int id = 0;
  char name[256] = {}, state = 0;
  const int got = std::fscanf(f, "%d %255s %c", &id, name, &state);
  std::fclose(f);
  return got == 3 && state != 'Z' && state != 'X';
}

// Forks a stand-in for a test program that starts `sleep` as a test would,
// reports its pid, and waits to be killed.
pid_t test_with_a_child(pid_t* child) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t test = fork();
  if (test == 0) {
    close(fds[0]);
    testing_process::Child sleeper("/bin/sleep", {"60"}, "", "/dev/null");
    const pid_t pid = sleeper.pid();
    if (write(fds[1], &pid, sizeof pid) != sizeof pid) _exit(1);
    pause();
    _exit(0);
  }
  close(fds[1]);
  if (read(fds[0], child, sizeof *child) != sizeof *child) *child = -1;
  close(fds[0]);
  return test;
}

TEST(Harness, a_child_dies_with_a_test_that_is_killed) {
  pid_t child = -1;
  const pid_t test = test_with_a_child(&child);
  ASSERT_GT(test, 0);
  ASSERT_GT(child, 0);
  EXPECT_TRUE(alive(child));
  kill(test, SIGKILL);  // as a CTest time-out ends a test
  waitpid(test, nullptr, 0);
  EXPECT_TRUE(wait_until(10.0, [&] { return !alive(child); })) << "sleep " << child << " outlived its test";
}

TEST(Harness, the_end_of_run_check_kills_a_survivor_of_its_run_and_leaves_others_alone) {
  // A bin dir of its own, so that no other test's children are in play.
  const std::string bin = "harness-self-test-" + std::to_string(getpid());
  // Detached as an orphan is (its parent gone): one marked, one not.
  auto start_orphan = [](const char* env) -> pid_t {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    if (fork() == 0) {
      setsid();
      const pid_t pid = fork();
      if (pid == 0) {
        if (env) putenv(const_cast<char*>(env));
        execl("/bin/sleep", "sleep", "60", static_cast<char*>(nullptr));
        _exit(127);
      }
      if (write(fds[1], &pid, sizeof pid) != sizeof pid) _exit(1);
      _exit(0);
    }
    close(fds[1]);
    pid_t pid = -1;
    if (read(fds[0], &pid, sizeof pid) != sizeof pid) pid = -1;
    close(fds[0]);
    wait(nullptr);
    return pid;
  };
  const std::string marked_env = std::string(testing_process::CHILD_MARK) + "=" + testing_process::child_mark(bin);
  // The same build's tests in another ctest run going on beside this one.
  const std::string other_run_env = std::string(testing_process::CHILD_MARK) + "=" + bin + "#ctest-1-1";
  const pid_t marked = start_orphan(marked_env.c_str());
  const pid_t unmarked = start_orphan(nullptr);
  const pid_t other_run = start_orphan(other_run_env.c_str());
  ASSERT_GT(marked, 0);
  ASSERT_GT(unmarked, 0);
  ASSERT_GT(other_run, 0);
  // exec has set the environment once the process is sleep.
  ASSERT_TRUE(wait_until(10.0, [&] {
    for (pid_t pid : {marked, other_run})
      if (testing_files::read_text("/proc/" + std::to_string(pid) + "/cmdline").rfind("sleep", 0) != 0) return false;
    return true;
  }));

  const std::string check = testing_files::source_dir() + "/tests/support/orphans.py";
  const auto found = testing_process::run("/usr/bin/env", {"python3", check, bin}, "", 60.0);
  EXPECT_EQ(found.exit_code, 1) << found.out << found.err;
  EXPECT_NE(found.out.find("pid " + std::to_string(marked) + ": sleep 60"), std::string::npos) << found.out;
  EXPECT_TRUE(wait_until(10.0, [&] { return !alive(marked); }));
  EXPECT_TRUE(alive(unmarked)) << "a process without the mark is someone else's";
  EXPECT_TRUE(alive(other_run)) << "a process of another run is that run's";
  kill(unmarked, SIGKILL);
  kill(other_run, SIGKILL);

  const auto clean = testing_process::run("/usr/bin/env", {"python3", check, bin}, "", 60.0);
  EXPECT_EQ(clean.exit_code, 0) << clean.out << clean.err;
}

}  // namespace
