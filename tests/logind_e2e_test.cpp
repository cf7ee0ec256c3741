// logind_e2e_test.cpp - the real binary on a host whose logins are
// systemd-logind sessions: a private mount namespace has the test's folder
// on /run, and nss_wrapper gives the user alice. Logons and logoffs while
// polling, an ssh login greeted on the terminal of its shell, which source
// ZIBBET_SOURCE, ZIBBET_UTMP and the host choose, and the refusals.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "support/context.h"
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
// A run that reads a host's records file that is not there says so once.
const std::string no_file_no_systemd =
    "zibbet: warning: there is no /var/run/utmp and systemd does not run here, so nobody can be "
    "seen; name a records file with ZIBBET_UTMP\n";
const std::string no_file_but_logind =
    "zibbet: warning: there is no /var/run/utmp; this host keeps its logins in systemd-logind: "
    "set ZIBBET_SOURCE=auto (or logind) to read them\n";
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
                 const std::optional<std::string>& utmp = std::nullopt,
                 const std::vector<std::string>& more_inner = {}) const {
    run_options opts;
    opts.args = std::move(args);
    opts.env = outer_env_;
    std::vector<std::string> inner = inner_env_;
    inner.insert(inner.end(), more_inner.begin(), more_inner.end());
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

TEST_F(LogindE2e, SshLoginIsGreetedThroughTheWriteUtilityWhenAskedFor) {
  if (std::string why = session_processes_unavailable(); !why.empty()) GTEST_SKIP() << why;
  logind_host host;
  host.write_session(session_id(1), alice("tty9"));  // there from the start: not greeted
  run_options opts = on(host, {"-i", "1", "-F", "-u", "alice", "-w", "-m", "hi %b"});
  opts.env.push_back("ZIBBET_GREETER=write");  // the (fake) write utility, asked for
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

// read_terminal - what reaches the master side of a terminal until it
// holds `until`, or a few seconds pass.
std::string read_terminal(int master, const std::string& until) {
  std::string got;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (got.find(until) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 100) != 1) continue;
    char buf[4096];
    ssize_t n = read(master, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<std::size_t>(n));
  }
  return got;
}

// ssh_login - alice's session as sshd makes one on a host without login
// records: no TTY, the client's address.
session_fields ssh_login(const std::string& from = "10.0.0.7") {
  session_fields login = alice();
  login.service = "sshd";
  login.remote_host = from;
  return login;
}

// One shared ssh connection, one logind session, several ptys: each
// channel is a login of its own, and each channel's end its logout.
TEST_F(LogindE2e, EveryChannelOfASharedSshConnectionIsALogin) {
  if (std::string why = session_processes_unavailable(); !why.empty()) GTEST_SKIP() << why;
  logind_host host;
  run_options opts = on(host, {"-i", "1", "-F", "-u", "alice"});
  opts.stdout_pty = true;
  live_process watcher(opts);
  const std::string id = session_id(1);
  auto first = std::make_unique<session_process>(id, alice_uid);
  ASSERT_TRUE(first->ok()) << first->error();
  const std::string first_line = first->line();
  host.write_session(id, ssh_login());
  ASSERT_TRUE(watcher.wait_for_output("alice logged on  " + first_line));

  session_process second(id, alice_uid);
  ASSERT_TRUE(second.ok()) << second.error();
  ASSERT_TRUE(watcher.wait_for_output("alice logged on  " + second.line()));
  first.reset();  // the first channel ends, the connection stays
  ASSERT_TRUE(watcher.wait_for_output("alice logged off " + first_line));

  run_result r = watcher.stop();
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(untimed(r.out), logged_on(first_line, "10.0.0.7") +
                                logged_on(second.line(), "10.0.0.7") +
                                logged_off(first_line, "10.0.0.7"));
}

// A session whose user's password entry is missing for a while is looked
// up again on every pass, not given up for the session's life.
TEST_F(LogindE2e, AUserLookupThatFailedIsTriedAgain) {
  logind_host host;
  const std::string passwd = dir_ / "passwd";
  const std::string with_carol = read_file(passwd) + "carol:x:4301:4301::/home/carol:/bin/sh\n";
  session_fields carol;
  carol.uid = 4301;  // no USER=: only the password database names her
  carol.tty = "pts/55";
  host.write_session(session_id(1), carol);
  run_options opts = on(host, {"-i", "1", "-F", "-u", "carol"});
  opts.stdout_pty = true;
  live_process watcher(opts);
  // A pass or two without her entry, and nothing to show for them.
  EXPECT_FALSE(watcher.wait_for_output("carol", std::chrono::milliseconds(2500)));
  const std::string tmp = passwd + ".new";
  std::FILE* f = std::fopen(tmp.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs(with_carol.c_str(), f);
  std::fclose(f);
  ASSERT_EQ(rename(tmp.c_str(), passwd.c_str()), 0);
  EXPECT_TRUE(watcher.wait_for_output("carol logged on  pts/55")) << untimed(watcher.out());
  run_result r = watcher.stop();
  EXPECT_EQ(r.exit_code, 0);
}

// Where logind is read, greetings go to the terminal by zibbet itself: an
// ssh login has no TTY in its session, so no write utility could find it,
// and none needs to be installed.
TEST_F(LogindE2e, SshLoginIsGreetedOnThePtyOfItsShellWithoutAnyWrite) {
  if (std::string why = session_processes_unavailable(); !why.empty()) GTEST_SKIP() << why;
  logind_host host;
  host.write_session(session_id(1), alice("tty9"));  // there from the start: not greeted
  // No write utility anywhere on zibbet's PATH.
  const std::string bare = dir_ / "bare";
  ASSERT_EQ(mkdir(bare.c_str(), 0755), 0);
  run_options opts = on(host, {"-i", "1", "-F", "-u", "alice", "-w", "-m", "hi %b%a"}, std::nullopt,
                        std::nullopt, {"PATH=" + bare});
  opts.stdout_pty = true;
  live_process watcher(opts);
  ASSERT_TRUE(watcher.wait_for_output("alice logged on  tty9"));

  const std::string ssh = session_id(2);
  session_process shell(ssh, alice_uid);
  ASSERT_TRUE(shell.ok()) << shell.error();
  // As login does: the pty is alice's, with messages on.
  const std::string device = "/dev/" + shell.line();
  ASSERT_EQ(chown(device.c_str(), alice_uid, static_cast<gid_t>(-1)), 0);
  ASSERT_EQ(chmod(device.c_str(), 0620), 0);
  host.write_session(ssh, ssh_login());
  // The terminal's own output processing may add a CR before each LF.
  std::string got = read_terminal(shell.master(), "EOF\r");
  got.erase(std::remove(got.begin(), got.end(), '\r'), got.end());
  EXPECT_NE(got.find("Message from "), std::string::npos) << got;
  EXPECT_NE(got.find("\nhi alice^G\n\nEOF\n"), std::string::npos) << got;
  EXPECT_EQ(got.find('\a'), std::string::npos) << "a raw bell reached the terminal";

  run_result r = watcher.stop();
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(untimed(r.out), logged_on("tty9") + logged_on(shell.line(), "10.0.0.7") +
                                "can i write to " + shell.line() + "?");
}

// libsystemd_path - the file that libsystemd.so.0 loads from here, links
// followed, or "" when it cannot be loaded at all.
std::string libsystemd_path() {
  void* lib = dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) return "";
  link_map* map = nullptr;
  std::string path;
  if (dlinfo(lib, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr) {
    if (char* real = realpath(map->l_name, nullptr)) {
      path = real;
      std::free(real);
    }
  }
  dlclose(lib);
  return path;
}

// libsystemd is loaded only when logind is read: where it cannot be
// loaded (an empty file bound over it), a run that asked for logind ends
// with one line, an automatic choice falls back to the records file with
// the warning that nobody can be seen, and a run on a records file, or -v,
// never notices.
TEST_F(LogindE2e, ALibsystemdThatCannotBeLoadedCostsOnlyTheLogindSource) {
  const std::string lib = libsystemd_path();
  if (lib.empty()) GTEST_SKIP() << "libsystemd.so.0 is not installed";
  logind_host host;
  host.write_session(session_id(1), alice("pts/77"));
  const std::string fake_lib = dir_.write_file("broken-libsystemd", "");
  const std::string named_file = dir_ / "named-utmp";
  write_records(named_file, {{"alice", "tty61", "", USER_PROCESS}});

  // run_broken - the binary with `args` on `host`, libsystemd unloadable.
  auto run_broken = [&](std::vector<std::string> args, std::vector<std::string> inner) {
    run_options opts;
    opts.env = outer_env_;
    opts.program = "/usr/bin/unshare";
    opts.args = {"-m",
                 "sh",
                 "-c",
                 "mount --bind \"$0\" /run && mount --bind \"$1\" \"$2\" && shift 2 && exec \"$@\"",
                 host.root(),
                 fake_lib,
                 lib,
                 "/usr/bin/env"};
    opts.args.insert(opts.args.end(), inner_env_.begin(), inner_env_.end());
    opts.args.insert(opts.args.end(), inner.begin(), inner.end());
    opts.args.push_back(zibbet_binary());
    opts.args.insert(opts.args.end(), args.begin(), args.end());
    return run(opts);
  };

  run_result asked = run_broken({"-o", "-F", "-u", "alice"}, {"ZIBBET_SOURCE=logind"});
  EXPECT_EQ(asked.exit_code, 1);
  EXPECT_EQ(asked.err.rfind("zibbet: ZIBBET_SOURCE=logind, but libsystemd cannot be loaded: ", 0),
            0u)
      << asked.err;
  EXPECT_EQ(std::count(asked.err.begin(), asked.err.end(), '\n'), 1) << asked.err;
  EXPECT_EQ(asked.out, "");

  run_result automatic = run_broken({"-o", "-F", "-u", "alice"}, {});
  EXPECT_EQ(automatic.exit_code, 0);
  EXPECT_EQ(automatic.err.rfind("zibbet: warning: there is no /var/run/utmp and libsystemd cannot "
                                "be loaded (",
                                0),
            0u)
      << automatic.err;
  EXPECT_NE(automatic.err.find("install libsystemd0, or name a records file with ZIBBET_UTMP\n"),
            std::string::npos)
      << automatic.err;
  EXPECT_EQ(automatic.out, "");

  run_result records = run_broken({"-o", "-F", "-u", "alice"}, {"ZIBBET_UTMP=" + named_file});
  EXPECT_EQ(records.exit_code, 0);
  EXPECT_EQ(records.err, "");
  EXPECT_EQ(untimed(records.out), logged_on("tty61"));

  run_result version = run_broken({"-v"}, {});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.err, version_banner());
}

// The binary does not ask the dynamic loader for libsystemd at start.
TEST(LogindLoading, TheBinaryNeedsNoLibsystemdToStart) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  run_options opts;
  opts.args = {"-v"};
  opts.env = {"LD_TRACE_LOADED_OBJECTS=1"};
  run_result r = run(opts);
  EXPECT_NE(r.out.find("libc.so"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("libsystemd"), std::string::npos) << r.out;
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
    std::string err = "";
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
      {"auto", unset, false, false, "", message::no_file_no_systemd},
      {"auto", named, false, false, from_named_file},
      // utmp: the records file, there or not.
      {"utmp", unset, false, true, "", message::no_file_but_logind},
      {"utmp", empty, false, true, "", message::no_file_but_logind},
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
    EXPECT_EQ(r.err, c.err);
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
