// buddy_cli_test.cpp - the buddy sources seen through the real binary: the
// -u list, the buddy file and standard input, the fallbacks to the own
// name, -a over a fake password database, and option words that end the
// run. Which buddies are watched shows in the status lines of one pass
// over a login-record fixture.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "support/context.h"
#include "support/harness.h"
#include "support/platform.h"
#include "support/records.h"

namespace zibbet::test {
namespace {

using names = std::vector<std::string>;

const std::string banner = version_banner();

const std::string refusal =
    "zibbet: no buddies specified\n"
    "well, if you don't have any friends for\n"
    "me to watch, I'm going away!\n";

const std::string fallback = "defaulting to just watching yourself...\n";

const std::string bailing = "zibbet: bailing: error parsing config file\n\n";

// own_name - the login name of the user running the tests.
std::string own_name() {
  const passwd* pw = getpwuid(getuid());
  return pw != nullptr ? pw->pw_name : "";
}

// utmp_env - writes a login-record file into `dir` with one login for each
// of the usual test names (and the running user), and returns the setting
// that points the scan at it.
std::string utmp_env(const temp_dir& dir) {
  std::vector<login> logins;
  int n = 1;
  for (std::string user : {"alice", "bob", "carol", "dave", "erin", "dumbass"})
    logins.push_back({user, "pts/" + std::to_string(n++), ""});
  logins.push_back({own_name(), "pts/" + std::to_string(n++), ""});
  std::string path = dir / "utmp";
  write_records(path, logins);
  return "ZIBBET_UTMP=" + path;
}

// watched - the names in the "logged on" status lines of `out`, sorted,
// one entry per line.
names watched(const std::string& out) {
  names found;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    // "(HH:MM:SS)  NAME logged on  LINE     from HOST"
    std::size_t on = line.find(" logged on ");
    if (line.size() > 12 && on != std::string::npos && on >= 12)
      found.push_back(line.substr(12, on - 12));
  }
  std::sort(found.begin(), found.end());
  return found;
}

// nss_env - the settings that make the binary read `passwd` as the whole
// password database.
std::vector<std::string> nss_env(const temp_dir& dir, const std::string& passwd,
                                 std::vector<std::string> extra_libs = {}) {
  extra_libs.push_back(nss_wrapper_lib());
  return {preload(extra_libs), "NSS_WRAPPER_PASSWD=" + dir.write_file("passwd", passwd),
          "NSS_WRAPPER_GROUP=" + dir.write_file("group", "users:x:100:\n"),
          "NSS_WRAPPER_HOSTS=" + dir.write_file("hosts", "127.0.0.1 localhost\n")};
}

std::string pw_line(const std::string& name, int uid) {
  return name + ":x:" + std::to_string(uid) + ":100::/nonexistent:/bin/sh\n";
}

// ---- what shows on the streams and in the exit status ----

TEST(BuddyCli, UserListOfDelimitersOnlyGivesNoBuddies) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  for (std::string list : {"", ",", " :,\t\n"}) {
    SCOPED_TRACE(testing::PrintToString(list));
    run_result r = run_zibbet({"-o", "-F", "-u", list});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, refusal);
  }
}

TEST(BuddyCli, DuplicateBuddiesAreWarnedAbout) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  temp_dir dir;
  struct {
    std::vector<std::string> args;
    std::string file;
    std::string err;
  } cases[] = {
      {{}, "alice\nbob\nalice\n", "zibbet: warning: duplicate buddy alice\n"},
      {{}, "\n\n", "zibbet: warning: duplicate buddy \n"},
      // a name from -u is found by the buddy file
      {{"-u", "carol,alice"}, "alice\n", "zibbet: warning: duplicate buddy alice\n"},
      // while -u itself keeps a name given twice silently
      {{"-u", "alice,alice"}, "bob\n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.file));
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-o", "-f", dir.write_file("buddies", c.file)});
    run_result r = run_zibbet(args);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, c.err);
  }
}

TEST(BuddyCli, ADuplicateLinesOptionTextIsStillParsed) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  temp_dir dir;
  run_result r = run_zibbet({"-o", "-f", dir.write_file("b", "alice\nalice: -w -v\n")});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, banner);

  r = run_zibbet({"-o", "-f", dir.write_file("b", "alice\nalice: -m \"x\n")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "error: unterminated \"\n" + bailing);
}

TEST(BuddyCli, UnopenableBuddyFileFallsBackToTheOwnName) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  temp_dir dir;
  mkdir((dir / "folder").c_str(), 0755);
  struct {
    std::vector<std::string> args;
    std::vector<std::string> env;
    std::string first_message;
  } cases[] = {
      {{"-f", dir / "none"},
       {},
       "unable to open " + (dir / "none") + "! (No such file or directory)\n"},
      {{"--buddyfile=" + (dir / "none/x")},
       {},
       "unable to open " + (dir / "none/x") + "! (No such file or directory)\n"},
      {{"-f", dir / "folder"}, {}, "unable to open " + (dir / "folder") + "! (Is a directory)\n"},
      // the default path under HOME
      {{},
       {"HOME=" + dir.path()},
       "unable to open " + dir.path() + "/.zibbet! (No such file or directory)\n"},
      // the own name named by -u as well is one buddy, and no warning
      {{"-u", own_name(), "-f", dir / "none"},
       {},
       "unable to open " + (dir / "none") + "! (No such file or directory)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first_message);
    std::vector<std::string> args = c.args;
    args.push_back("-o");
    run_result r = run_zibbet(args, c.env);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, c.first_message + fallback);
  }
}

TEST(BuddyCli, ADashReadsStandardInput) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  for (std::string flag : {"-f", "--buddyfile"}) {
    SCOPED_TRACE(flag);
    run_result r = run_zibbet({"-o", flag, "-"}, {}, "alice\nbob\nalice");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "zibbet: warning: duplicate buddy alice\n");
  }
  // An empty standard input is no buddies (and no fallback).
  run_result r = run_zibbet({"-o", "-f", "-"}, {}, "");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, refusal);
}

TEST(BuddyCli, PipesAndFifosAreReadWithoutHanging) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  // A process substitution names a pipe with a writer behind it.
  run_options opts;
  opts.program = "/bin/bash";
  opts.args = {"-c", "exec \"$0\" -o -f <(printf 'alice\\nalice\\n')", zibbet_binary()};
  opts.env = {"ZIBBET_UTMP=" + empty_records_file()};
  run_result r = run(opts);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "zibbet: warning: duplicate buddy alice\n");

  // A FIFO that nobody writes to reads as empty instead of blocking.
  temp_dir dir;
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  r = run_zibbet({"-o", "-f", dir / "fifo"});
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, refusal);
}

TEST(BuddyCli, MalformedQuotingEndsTheRunBeforeAnyPass) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  temp_dir dir;
  std::string utmp = utmp_env(dir);
  struct {
    std::string file;
    std::string message;
  } cases[] = {
      {"bob: -m \"hi\n", "error: unterminated \"\n"},
      {"alice\nbob: -s 'hi %b\ncarol\n", "error: unterminated '\n"},
      {"alice\nbob: -m hi\\", "syntax err: unterminated \\\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.file));
    run_result r = run_zibbet({"-o", "-f", dir.write_file("buddies", c.file)}, {utmp});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.message + bailing);
  }
}

TEST(BuddyCli, VersionOrHelpAmongOptionWordsEndsTheRun) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  temp_dir dir;
  std::string utmp = utmp_env(dir);
  run_result r =
      run_zibbet({"-o", "-f", dir.write_file("b", "alice\nbob: -w -v\ncarol\n")}, {utmp});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, banner);

  r = run_zibbet({"-o", "-f", "-"}, {utmp}, "bob: --help\n");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind(banner + "\nusage:\tzibbet [OPTIONS] ...\n", 0), 0U) << r.err;
}

TEST(BuddyCli, AHundredThousandByteLineLoadsWithoutBlocking) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  temp_dir dir;
  std::string long_line = "alice: -m " + std::string(100000, 'x') + " -c 'echo %b'";
  // Ending on -v shows that the whole option text was split and parsed.
  run_options opts;
  opts.args = {"-o", "-f", "-"};
  opts.stdin_data = long_line + " -v\n";
  opts.timeout = std::chrono::seconds(30);
  run_result r = run(opts);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, banner);

  // The lines after it are read as usual.
  opts.args = {"-o", "-f", dir.write_file("b", long_line + "\nbob\nbob\n")};
  opts.stdin_data.reset();
  r = run(opts);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "zibbet: warning: duplicate buddy bob\n");
}

TEST(BuddyCli, AllUsersReadsOnlyThePasswordDatabase) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  if (nss_wrapper_lib().empty()) GTEST_SKIP() << "nss_wrapper is not installed";
  temp_dir dir;
  std::string passwd = pw_line(own_name(), static_cast<int>(getuid())) + pw_line("alice", 1000) +
                       pw_line("bob", 1001) + pw_line("alice", 1002);
  // -f is not read: neither a missing file nor a malformed one is heard of.
  run_result r = run_zibbet({"-o", "-a", "-f", dir / "none"}, nss_env(dir, passwd));
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  r = run_zibbet({"-o", "-a", "-f", dir.write_file("b", "alice: -m \"x\n")}, nss_env(dir, passwd));
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");

  // A database without names gives no buddies, whatever -u says.
  r = run_zibbet({"-o", "-a", "-u", "alice"}, nss_env(dir, ""));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "uh, your uid (" + std::to_string(getuid()) +
                       ") wasn't found..\nso I'm setting your name to \"dumbass\".\n" + refusal);
}

// uid_env - a real user id of 4242, which the fake database lacks.
std::vector<std::string> uid_env(const temp_dir& dir) {
  std::vector<std::string> env =
      nss_env(dir, pw_line("alice", 1000) + pw_line("bob", 1001), {uid_wrapper_lib()});
  for (std::string v : {"UID_WRAPPER=1", "UID_WRAPPER_INITIAL_RUID=4242",
                        "UID_WRAPPER_INITIAL_EUID=4242", "UID_WRAPPER_INITIAL_SUID=4242"})
    env.push_back(v);
  return env;
}

const std::string dumbass =
    "uh, your uid (4242) wasn't found..\n"
    "so I'm setting your name to \"dumbass\".\n";

TEST(BuddyCli, AnUnknownUserIsCalledDumbass) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  if (nss_wrapper_lib().empty() || uid_wrapper_lib().empty())
    GTEST_SKIP() << "nss_wrapper or uid_wrapper is not installed";
  temp_dir dir;
  std::vector<std::string> env = uid_env(dir);
  env.push_back("HOME");  // unset: and no home directory either
  run_result r = run_zibbet({"-o"}, env);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, dumbass +
                       "unable to open ~/.zibbet! (HOME is not set and there is no home "
                       "directory)\n" +
                       fallback);

  env.back() = "HOME=" + dir.path();
  r = run_zibbet({"-o"}, env);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, dumbass + "unable to open " + dir.path() +
                       "/.zibbet! (No such file or directory)\n" + fallback);
}

// ---- which buddies are watched: the status lines of one pass ----

TEST(BuddyCli, UserListNamesAreWatched) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  temp_dir dir;
  std::string utmp = utmp_env(dir);
  struct {
    std::string list;
    names expected;
  } cases[] = {
      {"alice,bob", {"alice", "bob"}},
      {"alice bob\tcarol:dave", {"alice", "bob", "carol", "dave"}},
      {"alice,", {"alice"}},
      {"bob,bob", {"bob"}},
      {",alice,,\nbob", {"alice", "bob"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.list));
    run_result r = run_zibbet({"-o", "-F", "-u", c.list}, {utmp});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(watched(r.out), c.expected);
  }
}

TEST(BuddyCli, BuddyFileLinesAreWatched) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  temp_dir dir;
  std::string utmp = utmp_env(dir);
  std::string file = std::string("alice\n") +
                     "bob: -s 'custom %b'\n" +           // a status template of bob's own
                     std::string("carol\0junk\n", 11) +  // a NUL ends the line's text
                     "erin\r\n" +                        // the CR is part of the name
                     "alice: -m " + std::string(100000, 'x') + "\n" +  // a duplicate
                     "dave";                                           // no final newline
  run_result r = run_zibbet({"-o", "-f", dir.write_file("buddies", file)}, {utmp});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "zibbet: warning: duplicate buddy alice\n");
  EXPECT_EQ(watched(r.out), (names{"alice", "carol", "dave"}));
  EXPECT_NE(r.out.find("custom bob\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  alice logged on  pts/1    from localhost\n"), std::string::npos) << r.out;
}

TEST(BuddyCli, StandardInputBuddiesAreWatched) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  temp_dir dir;
  run_result r = run_zibbet({"-o", "-u", "carol", "-f", "-"}, {utmp_env(dir)}, "alice\nbob\n");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(watched(r.out), (names{"alice", "bob", "carol"}));
}

TEST(BuddyCli, TheOwnNameIsWatchedWhenTheBuddyFileIsMissing) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  temp_dir dir;
  std::string utmp = utmp_env(dir);
  run_result r = run_zibbet({"-o", "-f", dir / "none"}, {utmp});
  EXPECT_EQ(watched(r.out), names{own_name()});
  // Named by -u as well, it is still one buddy with one status line.
  r = run_zibbet({"-o", "-u", own_name() + ",alice", "-f", dir / "none"}, {utmp});
  EXPECT_EQ(watched(r.out), (names{"alice", own_name()}));
}

TEST(BuddyCli, AllUsersWatchesEveryNameOnce) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  if (nss_wrapper_lib().empty()) GTEST_SKIP() << "nss_wrapper is not installed";
  temp_dir dir;
  std::string passwd = pw_line(own_name(), static_cast<int>(getuid())) + pw_line("alice", 1000) +
                       pw_line("bob", 1001) + pw_line("alice", 1002);
  std::vector<std::string> env = nss_env(dir, passwd);
  env.push_back(utmp_env(dir));
  run_result r = run_zibbet({"-o", "-a", "-u", "carol", "-f", dir.write_file("b", "dave\n")}, env);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  names expected{"alice", "bob", own_name()};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(watched(r.out), expected);
}

TEST(BuddyCli, DumbassIsWatchedForAnUnknownUser) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  if (nss_wrapper_lib().empty() || uid_wrapper_lib().empty())
    GTEST_SKIP() << "nss_wrapper or uid_wrapper is not installed";
  temp_dir dir;
  std::vector<std::string> env = uid_env(dir);
  env.push_back("HOME");
  env.push_back(utmp_env(dir));
  run_result r = run_zibbet({"-o"}, env);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(watched(r.out), names{"dumbass"});
}

}  // namespace
}  // namespace zibbet::test
