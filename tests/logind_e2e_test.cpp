// logind_e2e_test.cpp - the real binary on a host whose logins are
// systemd-logind sessions: a private mount namespace has the test's folder
// on /run, and nss_wrapper gives the user alice. Logons and logoffs while
// polling, an ssh login greeted on the terminal of its shell, which source
// ZIBBET_SOURCE, ZIBBET_UTMP and the host choose, and the refusals.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "support/harness.h"
#include "support/logind_host.h"
#include "support/platform.h"
#include "support/records.h"
#include "support/terminal.h"

namespace zibbet::test {
namespace {

// What the program says about the source of its login records: one line
// each, on standard error, with exit status 1.
namespace message {
const std::string not_booted =
    "zibbet: ZIBBET_SOURCE=logind, but systemd is not running on this host\n";
const std::string not_built =
    "zibbet: ZIBBET_SOURCE=logind, but this zibbet was built without logind support\n";
std::string unknown(const std::string& value) {
  return "zibbet: unknown ZIBBET_SOURCE \"" + value + "\" (accepted values: auto, utmp, logind)\n";
}
}  // namespace message

constexpr uid_t alice_uid = 4201;

// untimed - pty line ends made plain and every "(HH:MM:SS)" shown as "(T)".
std::string untimed(const std::string& text) {
  static const std::regex stamp(R"(\(\d\d:\d\d:\d\d\))");
  return std::regex_replace(std::regex_replace(text, std::regex("\r\n"), "\n"), stamp, "(T)");
}

// padded - a line as "%l" shows it: filled with blanks to 8 bytes.
std::string padded(std::string line) {
  if (line.size() < 8) line.resize(8, ' ');
  return line;
}

std::string logged_on(const std::string& line, const std::string& from = "localhost") {
  return "(T)  alice logged on  " + padded(line) + " from " + from + "\n";
}
std::string logged_off(const std::string& line, const std::string& from = "localhost") {
  return "(T)  alice logged off " + padded(line) + " from " + from + "\n";
}

session_fields alice(std::string tty = "") {
  session_fields f;
  f.uid = alice_uid;
  f.user = "alice";
  f.tty = std::move(tty);
  return f;
}

class LogindE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string why = private_run_unavailable(); !why.empty()) GTEST_SKIP() << why;
    if (nss_wrapper_lib().empty()) GTEST_SKIP() << "nss_wrapper is not installed";
    std::string passwd = dir_.write_file("passwd",
                                         "root:x:0:0:root:/root:/bin/sh\n"
                                         "alice:x:4201:4201:Alice:/home/alice:/bin/sh\n");
    std::string group = dir_.write_file("group", "root:x:0:\nalice:x:4201:\n");
    inner_env_ = {preload({nss_wrapper_lib()}), "NSS_WRAPPER_PASSWD=" + passwd,
                  "NSS_WRAPPER_GROUP=" + group};
    const char* path = std::getenv("PATH");
    outer_env_ = {
        "ZIBBET_SOURCE", "ZIBBET_UTMP", "FAKE_WRITE_LOG=" + write_log_,
        "PATH=" + install_fake_write(dir_) + ":" + (path != nullptr ? path : "/usr/bin:/bin")};
  }

  // The binary with `args` on `host`, ZIBBET_SOURCE and ZIBBET_UTMP set for
  // it alone as given (nullopt: unset).
  run_options on(const logind_host& host, std::vector<std::string> args,
                 const std::optional<std::string>& source = std::nullopt,
                 const std::optional<std::string>& utmp = std::nullopt) const {
    run_options opts;
    opts.args = std::move(args);
    opts.env = outer_env_;
    std::vector<std::string> inner = inner_env_;
    if (source) inner.push_back("ZIBBET_SOURCE=" + *source);
    if (utmp) inner.push_back("ZIBBET_UTMP=" + *utmp);
    return on_private_run(host.root(), opts, inner);
  }

  temp_dir dir_;
  std::string write_log_ = dir_ / "write.log";
  std::vector<std::string> inner_env_;
  std::vector<std::string> outer_env_;
};

TEST_F(LogindE2e, PollingReportsLogonAndLogoffOfSessions) {
  logind_host host;
  run_options opts = on(host, {"-i", "1", "-F", "-u", "alice"});
  opts.stdout_pty = true;
  live_process watcher(opts);
  const std::string first = session_id(1);
  const std::string second = session_id(2);

  host.write_session(first, alice("pts/77"));
  std::string expected = logged_on("pts/77");
  EXPECT_TRUE(watcher.wait_for_output("alice logged on  pts/77"));
  host.close_session(first);
  expected += logged_off("pts/77");
  EXPECT_TRUE(watcher.wait_for_output("alice logged off pts/77"));

  session_fields remote = alice("tty4");
  remote.remote_host = "10.0.0.7";
  host.remove_session(first);
  host.write_session(second, remote);
  expected += logged_on("tty4", "10.0.0.7");
  EXPECT_TRUE(watcher.wait_for_output("alice logged on  tty4"));
  host.remove_session(second);
  expected += logged_off("tty4", "10.0.0.7");
  EXPECT_TRUE(watcher.wait_for_output("alice logged off tty4"));

  run_result r = watcher.stop();
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(untimed(r.out), expected);
}

TEST_F(LogindE2e, SshLoginIsGreetedOnTheTerminalOfItsShell) {
  if (std::string why = session_processes_unavailable(); !why.empty()) GTEST_SKIP() << why;
  logind_host host;
  host.write_session(session_id(1), alice("tty9"));  // there from the start: not greeted
  run_options opts = on(host, {"-i", "1", "-F", "-u", "alice", "-w", "-m", "hi %b"});
  opts.stdout_pty = true;
  live_process watcher(opts);
  ASSERT_TRUE(watcher.wait_for_output("alice logged on  tty9"));

  const std::string ssh = session_id(2);
  session_process shell(ssh, alice_uid);
  ASSERT_TRUE(shell.ok()) << shell.error();
  session_fields login = alice();
  login.service = "sshd";
  login.remote_host = "10.0.0.7";
  host.write_session(ssh, login);
  ASSERT_TRUE(wait_until([&] { return !read_file(write_log_).empty(); }, std::chrono::seconds(10)));

  run_result r = watcher.stop();
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read_file(write_log_), "argv: [alice] [" + shell.line() + "]\nhi alice\n\n");
  EXPECT_EQ(untimed(r.out), logged_on("tty9") + logged_on(shell.line(), "10.0.0.7") +
                                "can i write to " + shell.line() + "?");
}

// Which records a one-shot run reads: each source gives alice a line of
// its own.
TEST_F(LogindE2e, SourceIsChosenByZibbetSourceZibbetUtmpAndTheHost) {
  const std::string from_logind = "pts/77";
  const std::string from_host_file = "tty60";
  const std::string from_named_file = "tty61";
  const std::string named_file = dir_ / "named-utmp";
  write_records(named_file, {{"alice", from_named_file, "", USER_PROCESS}});
  enum utmp_var { unset, empty, named };
  struct {
    std::optional<std::string> source;
    utmp_var utmp;
    bool host_file;
    bool booted;
    std::string line;  // "" for no records at all
  } cases[] = {
      // auto: ZIBBET_UTMP, else the host's file, else logind, else the host's file.
      {std::nullopt, unset, false, true, from_logind},
      {"", unset, false, true, from_logind},
      {"auto", unset, false, true, from_logind},
      {"auto", empty, false, true, from_logind},
      {"auto", named, false, true, from_named_file},
      {std::nullopt, named, true, true, from_named_file},
      {"auto", unset, true, true, from_host_file},
      {"auto", unset, true, false, from_host_file},
      {"auto", unset, false, false, ""},
      {"auto", named, false, false, from_named_file},
      // utmp: the records file, there or not.
      {"utmp", unset, false, true, ""},
      {"utmp", empty, false, true, ""},
      {"utmp", unset, true, true, from_host_file},
      {"utmp", named, true, true, from_named_file},
      // logind: the sessions, whatever the records files.
      {"logind", named, true, true, from_logind},
      {"logind", unset, true, true, from_logind},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("ZIBBET_SOURCE=" + c.source.value_or("(unset)") + " ZIBBET_UTMP=" +
                 (c.utmp == unset   ? "(unset)"
                  : c.utmp == empty ? ""
                                    : "file") +
                 (c.host_file ? " host file" : "") + (c.booted ? " systemd" : " no systemd"));
    logind_host host(c.booted);
    host.write_session(session_id(1), alice(from_logind));
    if (c.host_file)
      write_records(host.records_file(), {{"alice", from_host_file, "", USER_PROCESS}});
    std::optional<std::string> utmp;
    if (c.utmp == empty) utmp = "";
    if (c.utmp == named) utmp = named_file;
    run_result r = run(on(host, {"-o", "-F", "-u", "alice"}, c.source, utmp));
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(untimed(r.out), c.line.empty() ? "" : logged_on(c.line));
  }
}

TEST_F(LogindE2e, LogindWithoutSystemdIsRefused) {
  logind_host host(false);
  host.write_session(session_id(1), alice("pts/77"));
  write_records(host.records_file(), {{"alice", "tty60", "", USER_PROCESS}});
  run_result r = run(on(host, {"-o", "-F", "-u", "alice"}, "logind"));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, message::not_booted);
  EXPECT_EQ(r.out, "");
}

// These need no private /run.
TEST(LogindE2eRefusals, UnknownSourceIsRefusedWithTheAcceptedValues) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  for (const char* value : {"bogus", "UTMP", "Logind", " logind", "utmp,logind", "none"}) {
    SCOPED_TRACE(value);
    run_result r = run_zibbet({"-o", "-F", "-u", "alice"},
                              {"ZIBBET_UTMP", std::string("ZIBBET_SOURCE=") + value});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, message::unknown(value));
    EXPECT_EQ(r.out, "");
  }
}

TEST(LogindE2eRefusals, LogindInABuildWithoutItIsRefused) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
#if ZIBBET_HAVE_LOGIND
  GTEST_SKIP() << "this build has logind support (LogindE2e.LogindWithoutSystemdIsRefused)";
#else
  run_result r = run_zibbet({"-o", "-F", "-u", "alice"}, {"ZIBBET_UTMP", "ZIBBET_SOURCE=logind"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, message::not_built);
  EXPECT_EQ(r.out, "");
#endif
}

}  // namespace
}  // namespace zibbet::test
