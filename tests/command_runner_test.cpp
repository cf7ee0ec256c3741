// command_runner_test.cpp - commands in children the runner owns: run
// once, warned about when they fail, never writing the watcher's buffered
// output, collected without a defunct one left, and only its own reaped.
#include "output/command_runner.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include "support/harness.h"
#include "support/process.h"

namespace zibbet::test {
namespace {

class CommandRunner : public ::testing::Test {
 protected:
  void TearDown() override {
    // Leave no command child behind for the next test.
    EXPECT_TRUE(wait_until([this] {
      runner_.reap();
      return runner_.running().empty();
    }));
  }

  captured capture(const std::function<void()>& fn) {
    return test::capture(dir_ / ("capture" + std::to_string(++captures_)), fn);
  }

  command_runner runner_;
  temp_dir dir_;
  int captures_ = 0;
};

TEST_F(CommandRunner, RunsTheCommandThroughTheShell) {
  std::string out = dir_ / "cmd.out";
  captured got = capture([&] { EXPECT_GT(runner_.start("echo ran alice >> " + out + "\n"), 0); });
  EXPECT_TRUE(wait_until([&] { return read_file(out) == "ran alice\n"; })) << read_file(out);
  EXPECT_TRUE(wait_until([this] {
    runner_.reap();
    return runner_.running().empty();
  }));
  EXPECT_EQ(read_file(out), "ran alice\n");
  EXPECT_EQ(read_file(got.err_path), "");
}

TEST_F(CommandRunner, AFailingCommandWarnsOverTwoLines) {
  captured got = capture([&] { (void)runner_.start("false\n"); });
  const std::string want = "warning: system(false\n) returned 256\n";
  EXPECT_TRUE(wait_until([&] { return read_file(got.err_path) == want; }))
      << read_file(got.err_path);
}

TEST_F(CommandRunner, AChildNeverWritesOurBufferedOutput) {
  pid_t pid = -1;
  captured got = capture([&] {
    std::fputs("pending, not flushed", stdout);
    pid = runner_.start("true");
    EXPECT_TRUE(wait_until([&] {
      runner_.reap();
      return runner_.running().empty();
    }));
  });
  EXPECT_GT(pid, 0);
  EXPECT_EQ(got.out, "pending, not flushed");
}

TEST_F(CommandRunner, NoDefunctChildrenAfterManyCommands) {
  for (int i = 0; i < 60; ++i) (void)runner_.start("true");
  bool clean = wait_until(
      [&] {
        runner_.reap();
        return zombies() == 0 && children().empty();
      },
      std::chrono::seconds(20));
  EXPECT_TRUE(clean) << zombies() << " defunct of " << children().size();
}

TEST_F(CommandRunner, ReapsOnlyItsOwnChildren) {
  // A child that someone else in the process started and will wait for.
  pid_t other = fork();
  ASSERT_GE(other, 0);
  if (other == 0) _exit(7);
  (void)runner_.start("true");
  EXPECT_TRUE(wait_until([&] {
    runner_.reap();
    return runner_.running().empty() && zombies() == 1;
  })) << zombies();
  // Still there for its owner, with its status.
  int status = 0;
  ASSERT_EQ(waitpid(other, &status, 0), other);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 7);
}

}  // namespace
}  // namespace zibbet::test
