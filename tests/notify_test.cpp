// notify_test.cpp - what a login change does: the status line, the
// greeting on a real pseudo-terminal through a fake write(1) on PATH, the
// refusals, the commands and their collection.
#include "watch/notify.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "support/context.h"
#include "support/harness.h"
#include "support/process.h"
#include "support/records.h"
#include "support/terminal.h"

namespace zibbet::test {
namespace {

// Known run settings, a fake write(1) first on PATH that logs its
// arguments and input, and a pseudo-terminal as the buddy's line.
class Notify : public ::testing::Test {
 protected:
  void SetUp() override {
    run_.status_message = "status %b %o";
    run_.message = "hi %b";
    ASSERT_EQ(mkdir((dir_ / "bin").c_str(), 0755), 0);
    install_write(logging_write_script);
    log_ = dir_ / "write.log";
    const char* path = std::getenv("PATH");
    saved_path_ = path != nullptr ? path : "/usr/bin:/bin";
    setenv("PATH", (dir_ / "bin" + ":" + saved_path_).c_str(), 1);
    setenv("FAKE_WRITE_LOG", log_.c_str(), 1);
    ASSERT_FALSE(term_.line().empty()) << "no pseudo-terminal";
    reap_children(ctx_);
  }
  void TearDown() override {
    setenv("PATH", saved_path_.c_str(), 1);
    unsetenv("FAKE_WRITE_LOG");
    // Leave no command child behind for the next test.
    wait_until([this] {
      reap_children(ctx_);
      return children().empty();
    });
  }

  void install_write(const char* script) { install_fake_write(dir_, script); }

  // capture - runs fn with standard output and standard error sent to
  // files of their own, and returns what they got.
  captured capture(const std::function<void()>& fn) {
    return test::capture(dir_ / ("capture" + std::to_string(++captures_)), fn);
  }

  // notify - notify_buddy for alice on our terminal, captured.
  captured notify(const buddy& b, presence_state state, std::int16_t greet_mode,
                  const std::string& user = "alice") {
    utmpx rec = make_record({user, term_.line(), ""});
    presence p{rec, state};
    return capture([&] { notify_buddy(ctx_, b, p, greet_mode); });
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

  settings run_ = test_settings("bob");
  watch_context ctx_{run_};
  temp_dir dir_;
  pseudo_terminal term_;
  std::string log_;
  std::string saved_path_;
  int captures_ = 0;
};

// own_settings - an override record as a buddy's option words make it.
std::unique_ptr<settings> own_settings(std::int16_t write_buddies) {
  auto s = std::make_unique<settings>();
  s->prog_name = "zibbet";
  s->message = "own %b";
  s->status_message = "own status %b";
  s->write_buddies = write_buddies;
  return s;
}

TEST_F(Notify, GreetingTable) {
  struct {
    const char* what;
    bool override_record;
    std::int16_t own_write;     // the override record's write_buddies
    std::int16_t global_write;  // the global write_buddies
    std::int16_t greet_mode;
    bool greeted;
  } cases[] = {
      {"global, first pass without -p", false, 0, 1, -1, false},
      {"global, -q", false, 0, 0, 0, false},
      {"global, -w", false, 0, 1, 1, true},
      {"own record without -w, first pass", true, 0, 1, -1, false},
      {"own record without -w, global -q", true, 0, 0, 0, false},
      {"own record without -w, global -w", true, 0, 1, 1, false},
      {"own -w, first pass without -p", true, 1, 0, -1, false},
      {"own -w, global -q", true, 1, 0, 0, true},
      {"own -w, global -w", true, 1, 1, 1, true},
  };
  for (const auto& c : cases) {
    buddy b;
    b.name = "alice";
    if (c.override_record) b.overrides = own_settings(c.own_write);
    run_.write_buddies = c.global_write;
    captured got = notify(b, PRESENCE_NEW, c.greet_mode);
    std::string status = c.override_record ? "own status alice\n" : "status alice logged on \n";
    std::string prompt = "can i write to " + term_.line() + "?";
    std::string greeting = c.override_record ? "own alice\n\n" : "hi alice\n\n";
    EXPECT_EQ(got.out, c.greeted ? status + prompt : status) << c.what;
    EXPECT_EQ(written(), c.greeted ? argv_line() + greeting : "") << c.what;
    EXPECT_EQ(got.err, "") << c.what;
  }
}

TEST_F(Notify, OnlyTheGlobalNoNewlineCounts) {
  buddy global_buddy;
  run_.no_newline = 1;
  run_.write_buddies = 1;
  captured got = notify(global_buddy, PRESENCE_NEW, 1);
  EXPECT_EQ(got.out, "status alice logged on can i write to " + term_.line() + "?");
  EXPECT_EQ(written(), argv_line() + "hi alice");  // no newline at all

  // A buddy's own -n changes nothing: two newlines after the greeting.
  run_.no_newline = 0;
  buddy own;
  own.overrides = own_settings(1);
  own.overrides->no_newline = 1;
  (void)notify(own, PRESENCE_NEW, 0);
  EXPECT_EQ(written(), argv_line() + "own alice\n\n");
}

TEST_F(Notify, WriteGetsRecordNamesAsArgumentsWithoutAShell) {
  captured got;
  int r = 0;
  got = capture([&] { r = write_to_buddy(ctx_, "x y;$(touch pwned)'", term_.line(), "hello\n"); });
  EXPECT_EQ(r, 0);
  EXPECT_EQ(written(), argv_line("x y;$(touch pwned)'") + "hello\n\n");
  EXPECT_EQ(access("pwned", F_OK), -1);
  EXPECT_EQ(got.err, "");
}

TEST_F(Notify, RefusedLinesStillPrompt) {
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
    captured got = capture([&] { r = write_to_buddy(ctx_, "alice", c.line, "hi alice\n"); });
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

TEST_F(Notify, SeenDoesNothingAndGoneOnlyPrintsItsStatus) {
  run_.write_buddies = 1;
  run_.exec_command = "touch " + (dir_ / "ran");
  buddy global_buddy;
  buddy own;
  own.overrides = own_settings(1);
  own.overrides->exec_command = "touch " + (dir_ / "ran");

  captured seen = notify(global_buddy, PRESENCE_SEEN, 1);
  EXPECT_EQ(seen.out, "");
  EXPECT_EQ(seen.err, "");

  captured gone = notify(global_buddy, PRESENCE_GONE, 1);
  EXPECT_EQ(gone.out, "status alice logged off\n");
  EXPECT_EQ(gone.err, "");
  EXPECT_TRUE(children().empty()) << "a command was started for a gone login";

  captured own_gone = notify(own, PRESENCE_GONE, 1);
  EXPECT_EQ(own_gone.out, "own status alice\n");
  EXPECT_TRUE(children().empty()) << "a command was started for a gone login";
  EXPECT_EQ(written(), "");
  EXPECT_EQ(access((dir_ / "ran").c_str(), F_OK), -1);
}

TEST_F(Notify, CommandRunsOnceForANewLogin) {
  std::string out = dir_ / "cmd.out";
  run_.exec_command = "echo ran %b on %l >> " + out;
  buddy b;
  captured got = notify(b, PRESENCE_NEW, -1);
  EXPECT_EQ(got.out, "status alice logged on \n");
  std::string want = "ran alice on " + term_.line() + "\n";
  EXPECT_TRUE(wait_until([&] { return read_file(out) == want; })) << read_file(out);
  EXPECT_TRUE(wait_until([this] {
    reap_children(ctx_);
    return children().empty();
  }));
  EXPECT_EQ(read_file(out), want);
  EXPECT_EQ(read_file(got.err_path), "");
}

TEST_F(Notify, FailingCommandWarnsOverTwoLines) {
  run_.exec_command = "false";
  buddy b;
  captured got = notify(b, PRESENCE_NEW, -1);
  const std::string want = "warning: system(false\n) returned 256\n";
  EXPECT_TRUE(wait_until([&] { return read_file(got.err_path) == want; }))
      << read_file(got.err_path);
}

TEST_F(Notify, CommandChildNeverWritesOurBufferedOutput) {
  pid_t pid = -1;
  captured got = capture([&] {
    std::fputs("pending, not flushed", stdout);
    pid = fork_and_exec(ctx_, "true");
    if (pid > 0) waitpid(pid, nullptr, 0);
  });
  EXPECT_GT(pid, 0);
  EXPECT_EQ(got.out, "pending, not flushed");
}

TEST_F(Notify, ChildrenStartWithDefaultSigpipeAndNoMask) {
  // The watcher ignores SIGPIPE and may have signals blocked; its children
  // must not inherit either.
  struct sigaction ign {
  }, old{};
  ign.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ign, &old);
  sigset_t usr2, old_mask;
  sigemptyset(&usr2);
  sigaddset(&usr2, SIGUSR2);
  sigprocmask(SIG_BLOCK, &usr2, &old_mask);

  install_write("#!/bin/sh\ngrep -E '^Sig(Ign|Blk)' /proc/self/status >> \"$FAKE_WRITE_LOG\"\n");
  (void)capture([&] { (void)write_to_buddy(ctx_, "alice", term_.line(), "hi\n"); });
  std::string write_sigs = written();

  std::string cmd_out = dir_ / "cmd.sigs";
  (void)capture([&] {
    (void)fork_and_exec(ctx_, "grep -E '^Sig(Ign|Blk)' /proc/self/status > " + cmd_out +
                                  ".tmp && mv " + cmd_out + ".tmp " + cmd_out);
  });
  EXPECT_TRUE(wait_until([&] { return !read_file(cmd_out).empty(); }));
  std::string cmd_sigs = read_file(cmd_out);

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

TEST_F(Notify, WriteUtilityThatExitsAtOnceIsSurvived) {
  // The greeting is far larger than a pipe holds, so the writer meets the
  // closed pipe for sure; SIGPIPE is not ignored in this process.
  install_write("#!/bin/sh\nexit 0\n");
  struct sigaction before {};
  sigaction(SIGPIPE, nullptr, &before);
  std::string greeting(1 << 20, 'x');
  int r = 0;
  captured got = capture([&] { r = write_to_buddy(ctx_, "alice", term_.line(), greeting); });
  EXPECT_EQ(r, 0);
  EXPECT_EQ(got.out, "can i write to " + term_.line() + "?");
  struct sigaction after {};
  sigaction(SIGPIPE, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);  // put back as it was
  EXPECT_TRUE(children().empty());                 // the write child was waited for
}

TEST_F(Notify, AWriteUtilityThatNeverEndsIsStoppedAfterTheLimit) {
  // Stuck as on a buddy's stopped terminal: it neither reads nor ends. A
  // greeting larger than a pipe holds would block a plain write for good.
  install_write("#!/bin/sh\nexec sleep 1000\n");
  ctx_.greeting_limit = std::chrono::milliseconds(300);
  for (std::size_t size : {std::size_t{16}, std::size_t{1} << 20}) {
    SCOPED_TRACE(size);
    int r = -1;
    captured got =
        capture([&] { r = write_to_buddy(ctx_, "alice", term_.line(), std::string(size, 'x')); });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(got.err, "zibbet: warning, write to alice on " + term_.line() +
                           " took too long; stopped it\n");
    EXPECT_TRUE(children().empty());  // stopped and reaped
  }
}

TEST_F(Notify, MissingWriteUtilityIsReported) {
  std::string empty = dir_ / "empty";
  ASSERT_EQ(mkdir(empty.c_str(), 0755), 0);
  setenv("PATH", empty.c_str(), 1);
  int r = 0;
  captured got = capture([&] { r = write_to_buddy(ctx_, "alice", term_.line(), "hi\n"); });
  EXPECT_EQ(r, 0);
  EXPECT_EQ(got.err, "zibbet: cannot run write: No such file or directory\n");
  EXPECT_TRUE(children().empty());
}

TEST_F(Notify, NoDefunctChildrenAfterManyCommands) {
  run_.exec_command = "true";
  buddy b;
  for (int i = 0; i < 60; ++i) (void)notify(b, PRESENCE_NEW, -1);
  // Later notification rounds collect every command that has ended.
  bool clean = wait_until(
      [&] {
        (void)notify(b, PRESENCE_SEEN, -1);
        return zombies() == 0 && children().empty();
      },
      std::chrono::seconds(20));
  EXPECT_TRUE(clean) << zombies() << " defunct of " << children().size();
}

}  // namespace
}  // namespace zibbet::test
