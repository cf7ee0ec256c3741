// watch_e2e_test.cpp - the real binary watching login records that the
// test writes (ZIBBET_UTMP): one-shot runs, report-current runs, and
// polling runs on a pseudo-terminal while the records change pass by pass.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "support/harness.h"
#include "support/platform.h"
#include "support/records.h"
#include "support/terminal.h"

namespace zibbet::test {
namespace {

login user(std::string u, std::string l, std::string h = "") {
  return {std::move(u), std::move(l), std::move(h), USER_PROCESS};
}

// untimed - the output with pty line ends made plain and every "(HH:MM:SS)"
// of a status line shown as "(T)", so that whole runs compare exactly.
std::string untimed(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "\r\n") == 0) continue;  // the '\n' follows
    bool stamp = text.size() - i >= 10 && text[i] == '(' && text[i + 9] == ')' &&
                 text[i + 3] == ':' && text[i + 6] == ':';
    for (int k : {1, 2, 4, 5, 7, 8})
      stamp = stamp && text[i + static_cast<std::size_t>(k)] >= '0' &&
              text[i + static_cast<std::size_t>(k)] <= '9';
    if (stamp) {
      out += "(T)";
      i += 9;
      continue;
    }
    out += text[i];
  }
  return out;
}

// The lines of a file, sorted: commands run in children that may finish
// in any order.
std::vector<std::string> sorted_lines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(read_file(path));
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::size_t line_count(const std::string& path) {
  std::string text = read_file(path);
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// padded - a line as "%l" shows it: filled with blanks to 8 bytes.
std::string padded(std::string line) {
  if (line.size() < 8) line.resize(8, ' ');
  return line;
}

class WatchE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    // A write utility that logs its arguments and its input.
    install_fake_write(dir_);
    const char* path = std::getenv("PATH");
    env_ = {"ZIBBET_UTMP=" + records_, "FAKE_WRITE_LOG=" + write_log_,
            "PATH=" + dir_.path() + "/bin:" + (path != nullptr ? path : "/usr/bin:/bin")};
  }

  run_result once(std::vector<std::string> args) { return run_zibbet(std::move(args), env_); }

  run_options polling(std::vector<std::string> args) {
    run_options opts;
    opts.args = std::move(args);
    opts.env = env_;
    opts.stdout_pty = true;
    return opts;
  }

  temp_dir dir_;
  std::string records_ = dir_ / "utmp";
  std::string write_log_ = dir_ / "write.log";
  std::string commands_ = dir_ / "commands";
  std::vector<std::string> env_;
};

TEST_F(WatchE2e, OneShotPrintsEveryLoginOfTheBuddiesInTableOrder) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  write_records(records_, {
                              user("bob", "pts/2", "host.example"),
                              user("alice", "pts/0"),
                              {"alice", "tty1", "", LOGIN_PROCESS},
                              user("carol", "pts/4"),
                              user("alice", "pts/1", "10.0.0.7"),
                              {"bob", "pts/5", "", DEAD_PROCESS},
                          });
  run_result r = once({"-o", "-F", "-u", "alice,bob"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(untimed(r.out),
            "(T)  alice logged on  pts/1    from 10.0.0.7\n"
            "(T)  alice logged on  pts/0    from localhost\n"
            "(T)  bob logged on  pts/2    from host.example\n");
}

// A records file that is missing or no file at all is named in a warning
// (a typo would otherwise look like nobody being logged in); the run goes
// on all the same.
TEST_F(WatchE2e, OneShotOnAnEmptyMissingOrForeignFilePrintsNothing) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  const std::string named = "zibbet: warning: ZIBBET_UTMP names " + records_;
  struct {
    const char* name;
    void (*prepare)(const std::string& path);
    std::string err;
  } cases[] = {
      {"empty", [](const std::string& p) { write_records(p, {}); }, ""},
      {"missing", [](const std::string& p) { unlink(p.c_str()); },
       named + ": No such file or directory\n"},
      {"only other users", [](const std::string& p) { write_records(p, {user("carol", "pts/1")}); },
       ""},
      {"a folder",
       [](const std::string& p) {
         unlink(p.c_str());
         mkdir(p.c_str(), 0755);
       },
       named + ": not a regular file\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.prepare(records_);
    run_result r = once({"-o", "-F", "-u", "alice"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
    rmdir(records_.c_str());
  }
}

// -o also counts as -p: its one pass greets when -w is given. The command
// runs either way.
TEST_F(WatchE2e, OneShotGreetsWithWriteBuddiesAndAlwaysRunsTheCommand) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  pseudo_terminal tty;
  write_records(records_, {user("alice", tty.line())});
  const std::string status = "(T)  alice logged on  " + padded(tty.line()) + " from localhost\n";
  const std::string prompt = "can i write to " + tty.line() + "?";
  struct {
    std::vector<std::string> args;
    std::string out;
    bool greeted;
  } cases[] = {
      {{"-o"}, status, false},
      {{"-o", "-w"}, status + prompt, true},
      {{"-o", "-p", "-w"}, status + prompt, true},
      {{"-o", "-w", "-q"}, status, false},  // -q takes -w back
  };
  for (const auto& c : cases) {
    std::string trace;
    for (const std::string& a : c.args) trace += a + " ";
    SCOPED_TRACE(trace);
    unlink(write_log_.c_str());
    unlink(commands_.c_str());
    std::vector<std::string> args = c.args;
    args.insert(args.end(),
                {"-F", "-u", "alice", "-m", "hi %b", "-c", "echo ran %b >> " + commands_});
    run_result r = once(args);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(untimed(r.out), c.out);
    EXPECT_TRUE(wait_until([&] { return line_count(commands_) >= 1; }));
    EXPECT_EQ(read_file(commands_), "ran alice\n");
    // The greeting is sent before the command runs, so the log is complete
    // by the time the run has ended.
    EXPECT_EQ(read_file(write_log_),
              c.greeted ? "argv: [alice] [" + tty.line() + "]\nhi alice\n\n" : "");
  }
}

// The whole life of a few logins, pass after pass, on a terminal: the test
// changes the records and waits for the lines each change must bring.
TEST_F(WatchE2e, PollingReportsLoginsAndLogoutsAsTheRecordsChange) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  write_records(records_, {user("alice", "pts/1", "first.example"), user("carol", "pts/3")});
  live_process watcher(
      polling({"-i", "1", "-F", "-u", "alice,bob", "-c", "echo cmd %b %l >> " + commands_}));
  std::string expected;
  // next_pass - waits for the lines the change just made must bring, then
  // checks everything printed so far.
  auto next_pass = [&](const std::string& lines) {
    expected += lines;
    // Lines come back in later passes, so wait for the whole output so far
    // (the harness reads while it waits for a text that never comes).
    bool whole = wait_until(
        [&] {
          (void)watcher.wait_for_output(std::string(1, '\0'), std::chrono::milliseconds(20));
          return untimed(watcher.out()).size() >= expected.size();
        },
        std::chrono::seconds(10));
    EXPECT_TRUE(whole) << "waiting for:\n" << lines;
    EXPECT_EQ(untimed(watcher.out()), expected);
  };

  // The first pass: an existing login counts as new and runs the command.
  next_pass("(T)  alice logged on  pts/1    from first.example\n");
  // A relogin on pts/1 from elsewhere stays silent; a second line for
  // alice and bob's first login come in one pass, alice first.
  write_records(records_, {user("bob", "pts/2"), user("alice", "pts/1", "second.example"),
                           user("alice", "pts/0")});
  next_pass(
      "(T)  alice logged on  pts/0    from localhost\n"
      "(T)  bob logged on  pts/2    from localhost\n");
  // alice leaves pts/1 (shown with the host of the first record) and bob
  // moves to it; bob's pts/2 comes before pts/1 in his table.
  write_records(records_, {user("alice", "pts/0"), user("bob", "pts/1")});
  next_pass(
      "(T)  alice logged off pts/1    from first.example\n"
      "(T)  bob logged off pts/2    from localhost\n"
      "(T)  bob logged on  pts/1    from localhost\n");
  // No records at all: everyone is gone; the same logins come back new.
  write_records(records_, {});
  next_pass(
      "(T)  alice logged off pts/0    from localhost\n"
      "(T)  bob logged off pts/1    from localhost\n");
  write_records(records_, {user("alice", "pts/0"), user("bob", "pts/1")});
  next_pass(
      "(T)  alice logged on  pts/0    from localhost\n"
      "(T)  bob logged on  pts/1    from localhost\n");
  // A missing file is the same.
  ASSERT_EQ(unlink(records_.c_str()), 0);
  next_pass(
      "(T)  alice logged off pts/0    from localhost\n"
      "(T)  bob logged off pts/1    from localhost\n");
  write_records(records_, {user("bob", "pts/1")});
  next_pass("(T)  bob logged on  pts/1    from localhost\n");

  EXPECT_TRUE(wait_until([&] { return line_count(commands_) >= 7; }));
  run_result r = watcher.stop();
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.term_signal, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(untimed(r.out), expected);  // nothing more came at the end
  // One command per new login, never for a gone or unchanged one.
  EXPECT_EQ(sorted_lines(commands_),
            (std::vector<std::string>{"cmd alice pts/0", "cmd alice pts/0", "cmd alice pts/1",
                                      "cmd bob pts/1", "cmd bob pts/1", "cmd bob pts/1",
                                      "cmd bob pts/2"}));
}

// With -w and no -p, the logins present at start-up get their status line
// and their command but no greeting; the ones that come later are greeted.
TEST_F(WatchE2e, PollingGreetsOnlyLoginsAfterTheFirstPass) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  pseudo_terminal first;
  pseudo_terminal later;
  write_records(records_, {user("alice", first.line())});
  live_process watcher(polling({"-i", "1", "-F", "-u", "alice,bob", "-w", "-m", "hi %b", "-c",
                                "echo ran %b >> " + commands_}));
  ASSERT_TRUE(watcher.wait_for_output("alice logged on  " + first.line()));
  ASSERT_TRUE(wait_until([&] { return line_count(commands_) >= 1; }));
  EXPECT_EQ(read_file(write_log_), "");
  write_records(records_, {user("alice", first.line()), user("bob", later.line())});
  ASSERT_TRUE(wait_until([&] { return !read_file(write_log_).empty(); }, std::chrono::seconds(10)));
  run_result r = watcher.stop();
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(read_file(write_log_), "argv: [bob] [" + later.line() + "]\nhi bob\n\n");
  EXPECT_TRUE(wait_until([&] { return line_count(commands_) >= 2; }));
  EXPECT_EQ(sorted_lines(commands_), (std::vector<std::string>{"ran alice", "ran bob"}));
  // The prompt has no newline of its own; it is written out at the end.
  EXPECT_EQ(untimed(r.out), "(T)  alice logged on  " + padded(first.line()) +
                                " from localhost\n(T)  bob logged on  " + padded(later.line()) +
                                " from localhost\ncan i write to " + later.line() + "?");
}

// On a pipe the status lines wait in the output buffer; each stop signal
// ends the loop and writes them out once (not again from a command child).
TEST_F(WatchE2e, AStopSignalEndsThePollingLoopAndFlushesTheOutput) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  write_records(records_, {user("alice", "pts/1")});
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    unlink(commands_.c_str());
    run_options opts = polling({"-i", "1", "-F", "-u", "alice", "-c", "echo x >> " + commands_});
    opts.stdout_pty = false;
    live_process watcher(opts);
    ASSERT_TRUE(wait_until([&] { return line_count(commands_) >= 1; }));
    run_result r = watcher.stop(sig);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(untimed(r.out), "(T)  alice logged on  pts/1    from localhost\n");
  }
}

}  // namespace
}  // namespace zibbet::test
