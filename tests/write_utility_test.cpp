// write_utility_test.cpp - a greeting through write(1): a fake utility
// first on PATH, a real pseudo-terminal as the buddy's line, the prompt,
// the refusals, and a utility that ends early, never ends or is missing.
#include "output/write_utility.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "output/command_runner.h"
#include "output/greeting.h"
#include "support/harness.h"
#include "support/process.h"
#include "support/terminal.h"

namespace zibbet::test {
namespace {

// A fake write(1) first on PATH that logs its arguments and input, and a
// pseudo-terminal as the buddy's line.
class WriteUtility : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(mkdir((dir_ / "bin").c_str(), 0755), 0);
    install_write(logging_write_script);
    log_ = dir_ / "write.log";
    const char* path = std::getenv("PATH");
    saved_path_ = path != nullptr ? path : "/usr/bin:/bin";
    setenv("PATH", (dir_ / "bin" + ":" + saved_path_).c_str(), 1);
    setenv("FAKE_WRITE_LOG", log_.c_str(), 1);
    ASSERT_FALSE(term_.line().empty()) << "no pseudo-terminal";
  }
  void TearDown() override {
    setenv("PATH", saved_path_.c_str(), 1);
    unsetenv("FAKE_WRITE_LOG");
  }

  void install_write(const char* script) { install_fake_write(dir_, script); }

  captured capture(const std::function<void()>& fn) {
    return test::capture(dir_ / ("capture" + std::to_string(++captures_)), fn);
  }

  // greet - greet_buddy through the write utility, captured.
  captured greet(const std::string& user, const std::string& line, const std::string& greeting,
                 int& result) {
    return capture([&] { result = greet_buddy(settings_, user, line, greeting); });
  }

  // written - what the fake write utility was given, consumed.
  std::string written() {
    std::string got = read_file(log_);
    unlink(log_.c_str());
    return got;
  }

  std::string argv_line(const std::string& user = "alice") {
    return "argv: [" + user + "] [" + term_.line() + "]\n";
  }

  greeting_settings settings_{"zibbet", "bob", false, std::chrono::seconds(10),
                              greeting_delivery::write_utility};
  temp_dir dir_;
  pseudo_terminal term_;
  std::string log_;
  std::string saved_path_;
  int captures_ = 0;
};

TEST_F(WriteUtility, GetsTheGreetingAndOneMoreNewline) {
  int r = -1;
  captured got = greet("alice", term_.line(), "hi alice\n", r);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(got.out, "can i write to " + term_.line() + "?");
  EXPECT_EQ(written(), argv_line() + "hi alice\n\n");
  EXPECT_EQ(got.err, "");

  // With -n the greeting comes with no newline at all.
  settings_.no_newline = true;
  (void)greet("alice", term_.line(), "hi alice", r);
  EXPECT_EQ(written(), argv_line() + "hi alice");
}

TEST_F(WriteUtility, GetsRecordNamesAsArgumentsWithoutAShell) {
  int r = -1;
  captured got = greet("x y;$(touch pwned)'", term_.line(), "hello\n", r);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(written(), argv_line("x y;$(touch pwned)'") + "hello\n\n");
  EXPECT_EQ(access("pwned", F_OK), -1);
  EXPECT_EQ(got.err, "");
}

TEST_F(WriteUtility, RefusedLinesStillPrompt) {
  struct {
    std::string line;
    std::string err_first;  // what comes before the warning
  } cases[] = {
      {"null", ""},  // /dev/null opens but is no terminal
      {"pts/99999", "/dev/pts/99999: No such file or directory\n"},
      {"../../etc/passwd", ""},
      {"pts/../../etc/passwd", ""},
      {"/etc/passwd", ""},
      {"", ""},
      {"pts/\x1b[2J", "/dev/pts/?[2J: No such file or directory\n"},
  };
  for (const auto& c : cases) {
    int r = 0;
    captured got = greet("alice", c.line, "hi alice\n", r);
    std::string shown = c.line;
    for (char& ch : shown)
      if (ch == '\x1b') ch = '?';
    EXPECT_EQ(r, -1) << shown;
    EXPECT_EQ(got.out, "can i write to " + shown + "?") << shown;
    EXPECT_EQ(got.err, c.err_first + "zibbet: warning, not writing to alice on " + shown + "\n")
        << shown;
    EXPECT_EQ(written(), "") << shown;
  }
}

TEST_F(WriteUtility, ChildrenStartWithDefaultSigpipeAndNoMask) {
  // The watcher ignores SIGPIPE and may have signals blocked; its children
  // (the write utility and the commands) must not inherit either.
  struct sigaction ign {
  }, old{};
  ign.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ign, &old);
  sigset_t usr2, old_mask;
  sigemptyset(&usr2);
  sigaddset(&usr2, SIGUSR2);
  sigprocmask(SIG_BLOCK, &usr2, &old_mask);

  install_write("#!/bin/sh\ngrep -E '^Sig(Ign|Blk)' /proc/self/status >> \"$FAKE_WRITE_LOG\"\n");
  int r = 0;
  (void)greet("alice", term_.line(), "hi\n", r);
  std::string write_sigs = written();

  std::string cmd_out = dir_ / "cmd.sigs";
  command_runner runner;
  (void)capture([&] {
    (void)runner.start("grep -E '^Sig(Ign|Blk)' /proc/self/status > " + cmd_out + ".tmp && mv " +
                       cmd_out + ".tmp " + cmd_out);
  });
  EXPECT_TRUE(wait_until([&] { return !read_file(cmd_out).empty(); }));
  std::string cmd_sigs = read_file(cmd_out);
  EXPECT_TRUE(wait_until([&] {
    runner.reap();
    return runner.running().empty();
  }));

  sigprocmask(SIG_SETMASK, &old_mask, nullptr);
  sigaction(SIGPIPE, &old, nullptr);

  for (const std::string& sigs : {write_sigs, cmd_sigs}) {
    ASSERT_NE(sigs.find("SigBlk:"), std::string::npos) << sigs;
    unsigned long long blocked = std::stoull(sigs.substr(sigs.find("SigBlk:") + 7), nullptr, 16);
    unsigned long long ignored = std::stoull(sigs.substr(sigs.find("SigIgn:") + 7), nullptr, 16);
    EXPECT_EQ(blocked, 0u) << sigs;
    EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u) << sigs;
  }
}

TEST_F(WriteUtility, AUtilityThatExitsAtOnceIsSurvived) {
  // The greeting is far larger than a pipe holds, so the writer meets the
  // closed pipe for sure; SIGPIPE is not ignored in this process.
  install_write("#!/bin/sh\nexit 0\n");
  struct sigaction before {};
  sigaction(SIGPIPE, nullptr, &before);
  int r = 0;
  captured got = greet("alice", term_.line(), std::string(1 << 20, 'x'), r);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(got.out, "can i write to " + term_.line() + "?");
  struct sigaction after {};
  sigaction(SIGPIPE, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);  // put back as it was
  EXPECT_TRUE(children().empty());                 // the write child was waited for
}

TEST_F(WriteUtility, AUtilityThatNeverEndsIsStoppedAfterTheLimit) {
  // Stuck as on a buddy's stopped terminal: it neither reads nor ends. A
  // greeting larger than a pipe holds would block a plain write for good.
  install_write("#!/bin/sh\nexec sleep 1000\n");
  settings_.limit = std::chrono::milliseconds(300);
  for (std::size_t size : {std::size_t{16}, std::size_t{1} << 20}) {
    SCOPED_TRACE(size);
    int r = -1;
    captured got = greet("alice", term_.line(), std::string(size, 'x'), r);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(got.err, "zibbet: warning, write to alice on " + term_.line() +
                           " took too long; stopped it\n");
    EXPECT_TRUE(children().empty());  // stopped and reaped
  }
}

TEST_F(WriteUtility, AMissingUtilityIsReported) {
  std::string empty = dir_ / "empty";
  ASSERT_EQ(mkdir(empty.c_str(), 0755), 0);
  setenv("PATH", empty.c_str(), 1);
  int r = -1;
  captured got = greet("alice", term_.line(), "hi\n", r);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(got.err, "zibbet: cannot run write: No such file or directory\n");
  EXPECT_TRUE(children().empty());
}

}  // namespace
}  // namespace zibbet::test
