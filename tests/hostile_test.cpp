// hostile_test.cpp - the real binary on broken and hostile input: buddy
// files that are garbage or not files at all, malformed quoting, huge
// templates, login records crafted to attack a terminal, a shell or the
// file system, records files that are cut, empty or swapped, and write
// utilities that are missing or misbehave. Each ends with a clear message
// or the documented silence, never a hang or a crash, and loses nothing
// that the rest of the input holds.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
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

using namespace std::chrono_literals;

login user(std::string u, std::string l, std::string h = "") {
  return {std::move(u), std::move(l), std::move(h), USER_PROCESS};
}

// lines_of - the lines of a text, sorted: buddies come out in table order,
// which these tests do not care about.
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// garbage - `n` bytes from a fixed generator, never one of `avoid`.
std::string garbage(std::size_t n, std::string_view avoid) {
  std::string out;
  std::uint32_t x = 0x2545f491;
  while (out.size() < n) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    char c = static_cast<char>(x & 0xff);
    if (avoid.find(c) == std::string_view::npos) out += c;
  }
  return out;
}

std::string own_name() {
  const passwd* pw = getpwuid(getuid());
  return pw != nullptr ? pw->pw_name : "dumbass";
}

bool exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// A path outside the test's folder (a file or FIFO that a short line name
// can reach), removed when the test ends.
class scratch_node {
 public:
  explicit scratch_node(const std::string& path) : path_(path) { unlink(path_.c_str()); }
  ~scratch_node() { unlink(path_.c_str()); }
  scratch_node(const scratch_node&) = delete;
  scratch_node& operator=(const scratch_node&) = delete;
  [[nodiscard]] const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class Hostile : public ::testing::Test {
 protected:
  void SetUp() override {
    mkdir(bin_.c_str(), 0755);
    const char* path = std::getenv("PATH");
    system_path_ = path != nullptr ? path : "/usr/bin:/bin";
    // Greetings go through the (fake) write utility, also where none is on
    // PATH: what a hostile write does is what these tests are about.
    env_ = {"ZIBBET_UTMP=" + records_, "ZIBBET_GREETER=write", "FAKE_WRITE_LOG=" + write_log_,
            "PATH=" + bin_ + ":" + system_path_};
    install_fake_write(dir_);
  }

  // use_write - the fake write utility runs this shell script body.
  void use_write(const std::string& body) const { install_fake_write(dir_, "#!/bin/sh\n" + body); }

  run_result zibbet(std::vector<std::string> args) {
    run_options opts;
    opts.args = std::move(args);
    opts.env = env_;
    opts.timeout = 20s;
    return run(opts);
  }

  // expect_clean_end - the run ended by itself with `code`.
  static void expect_clean_end(const run_result& r, int code = 0) {
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.term_signal, 0);
    EXPECT_EQ(r.exit_code, code) << r.err;
  }

  temp_dir dir_;
  std::string bin_ = dir_ / "bin";
  std::string records_ = dir_ / "utmp";
  std::string write_log_ = dir_ / "write.log";
  std::string system_path_;
  std::vector<std::string> env_;
};

// ---- buddy files ----------------------------------------------------------

// Binary garbage without colons is nothing but odd names: the run goes on,
// warns only about garbage names that collide, and the real buddy after
// the garbage is still watched.
TEST_F(Hostile, GarbageBuddyFileIsOnlyOddNames) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  std::string file = dir_.write_file("buddies", garbage(64 * 1024, ":") + "\nalice\n");
  write_records(records_, {user("alice", "pts/1")});
  run_result r = zibbet({"-o", "-f", file, "-s", "%b on %l"});
  expect_clean_end(r);
  EXPECT_EQ(r.out, "alice on pts/1   \n");
  for (const std::string& l : lines_of(r.err))
    EXPECT_EQ(l.rfind("zibbet: warning: duplicate buddy ", 0), 0U) << l;
}

// A NUL ends its line's text (options after it are never seen, -h
// included); the rest of that line is dropped and the next line is read.
TEST_F(Hostile, NulBytesEndTheLineNotTheFile) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  static const char text[] = "alice\0:-h junk\nbob\0\0\ncarol:-s 'C %b'\0-v\ndave\n";
  std::string file = dir_.write_file("buddies", std::string(text, sizeof text - 1));
  write_records(records_, {user("alice", "pts/1"), user("bob", "pts/2"), user("carol", "pts/3"),
                           user("dave", "pts/4")});
  run_result r = zibbet({"-o", "-f", file, "-s", "%b"});
  expect_clean_end(r);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(lines_of(r.out), (std::vector<std::string>{"C carol", "alice", "bob", "dave"}));
}

// Lines of a mebibyte are lines like any other: a name, and an option text
// whose status template of a mebibyte comes out whole.
TEST_F(Hostile, MebibyteLinesAndTemplates) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  const std::string big(1 << 20, 'y');
  std::string file =
      dir_.write_file("buddies", std::string(1 << 20, 'x') + "\nalice\nbob:-s '" + big + " %b'\n");
  write_records(records_, {user("alice", "pts/1"), user("bob", "pts/2")});
  run_result r = zibbet({"-o", "-f", file, "-s", "%b"});
  expect_clean_end(r);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(lines_of(r.out), (std::vector<std::string>{"alice", big + " bob"}));

  // The command line takes a template as long as one argument may be.
  const std::string wide(120 * 1024, 'z');
  r = zibbet({"-o", "-F", "-u", "alice", "-s", wide + "%b"});
  expect_clean_end(r);
  EXPECT_EQ(r.out, wide + "alice\n");
}

// CRLF line ends keep the carriage return in the name and in the last
// option word: "alice\r" matches only a record that says so (shown with
// "?"), and a template ending in "\r" keeps its own byte.
TEST_F(Hostile, CrlfLinesKeepTheirCarriageReturn) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  std::string file = dir_.write_file("buddies", "alice\r\nbob:-s 'B %b'\r\n");
  write_records(records_, {user("alice", "pts/1"), user("alice\r", "pts/2"), user("bob", "pts/3")});
  run_result r = zibbet({"-o", "-f", file, "-s", "%b %l"});
  expect_clean_end(r);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(lines_of(r.out), (std::vector<std::string>{"B bob\r", "alice? pts/2   "}));
}

// Paths that are no buddy file: a directory or a missing path falls back
// to the running user; a FIFO without a writer reads as empty at once.
TEST_F(Hostile, BuddyFilesThatAreNotFiles) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  const std::string me = own_name();
  std::string fifo = dir_ / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  write_records(records_, {user(me, "pts/7"), user("alice", "pts/1")});
  const std::string fallback = "defaulting to just watching yourself...\n";

  run_result r = zibbet({"-o", "-f", dir_.path(), "-s", "%b"});
  expect_clean_end(r);
  EXPECT_EQ(r.err, "unable to open " + dir_.path() + "! (Is a directory)\n" + fallback);
  EXPECT_EQ(r.out, me + "\n");

  r = zibbet({"-o", "-f", dir_ / "missing", "-s", "%b"});
  expect_clean_end(r);
  EXPECT_EQ(r.err,
            "unable to open " + dir_ / "missing" + "! (No such file or directory)\n" + fallback);
  EXPECT_EQ(r.out, me + "\n");

  r = zibbet({"-o", "-f", fifo, "-s", "%b"});
  expect_clean_end(r, 1);
  EXPECT_EQ(r.err,
            "zibbet: no buddies specified\nwell, if you don't have any friends for\n"
            "me to watch, I'm going away!\n");
  r = zibbet({"-o", "-u", "alice", "-f", fifo, "-s", "%b"});
  expect_clean_end(r);
  EXPECT_EQ(r.out, "alice\n");
}

// A buddy file the user may not read falls back like a missing one (run
// under a uid without a password entry, so the own name is "dumbass").
TEST_F(Hostile, UnreadableBuddyFileFallsBack) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  if (getuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0)
    GTEST_SKIP() << "needs root and setpriv to drop to another uid";
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  std::string file = dir_.write_file("buddies", "alice\n");
  ASSERT_EQ(chmod(file.c_str(), 0), 0);
  write_records(records_, {user("dumbass", "pts/7"), user("alice", "pts/1")});
  run_options opts;
  opts.program = "/usr/bin/setpriv";
  opts.args = {"--reuid=4242",
               "--regid=4242",
               "--clear-groups",
               zibbet_binary(),
               "-o",
               "-f",
               file,
               "-s",
               "%b"};
  opts.env = env_;
  opts.timeout = 20s;
  run_result r = run(opts);
  expect_clean_end(r);
  EXPECT_EQ(r.err,
            "uh, your uid (4242) wasn't found..\nso I'm setting your name to \"dumbass\".\n"
            "unable to open " +
                file +
                "! (Permission denied)\n"
                "defaulting to just watching yourself...\n");
  EXPECT_EQ(r.out, "dumbass\n");
}

// Every quoting error: the splitter's message, the bail line and its blank
// line, status 1, and not one status line before it.
TEST_F(Hostile, EveryQuotingErrorEndsTheRunWithItsMessage) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  struct {
    std::string line;
    std::string message;
  } cases[] = {
      {"alice:-m \"hi\n", "error: unterminated \"\n"},
      {"alice:-m 'hi\n", "error: unterminated '\n"},
      {"alice:-m hi\\", "syntax err: unterminated \\\n"},    // the file's last byte
      {"alice:-m \"a\\\\\"\n", "error: unterminated \"\n"},  // no stretch ends in "\"
      {"alice:-m 'it\\'s\n", "error: unterminated '\n"},
      {"alice:\"\n", "error: unterminated \"\n"},
      {"alice\nbob:-w 'x\ncarol\n", "error: unterminated '\n"},  // after a good line
  };
  write_records(records_, {user("alice", "pts/1"), user("carol", "pts/3")});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    std::string file = dir_.write_file("buddies", c.line);
    run_result r = zibbet({"-o", "-f", file});
    expect_clean_end(r, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.message + "zibbet: bailing: error parsing config file\n\n");
  }
}

// ---- login records ----------------------------------------------------------

// Fields that fill their whole width are shown whole, and nothing of the
// field after them leaks in.
TEST_F(Hostile, FullWidthFieldsAreShownWhole) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  const std::string name(sizeof(utmpx{}.ut_user), 'u');
  const std::string line(sizeof(utmpx{}.ut_line), 'l');
  const std::string host(sizeof(utmpx{}.ut_host), 'h');
  write_records(records_, {user(name, line, host)});
  std::string out = dir_ / "cmd.out";
  run_result r = zibbet({"-o", "-F", "-u", name, "-s", "%b|%l|%h", "-c", "echo %b%l%h > " + out});
  expect_clean_end(r);
  EXPECT_EQ(r.out, name + "|" + line + "|" + host + "\n");
  EXPECT_TRUE(wait_until([&] { return read_file(out) == name + line + host + "\n"; }))
      << read_file(out);
}

// Control bytes from a record never reach a terminal: "?" in status
// lines, in the prompt and in the warning, while the template's own bytes
// stay.
TEST_F(Hostile, ControlBytesFromRecordsAreShownAsQuestionMarks) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  std::string file = dir_.write_file("buddies", "ev\x1b[1mil\n");
  write_records(records_, {user("ev\x1b[1mil", "pts/\x1b[2J", "h\a\x1b]0;pwn\a\x7f")});
  run_result r = zibbet({"-o", "-p", "-w", "-f", file, "-s", "%b\t%l from %h"});
  expect_clean_end(r);
  EXPECT_EQ(r.out, "ev?[1mil\tpts/?[2J from h??]0;pwn??\ncan i write to pts/?[2J?");
  EXPECT_NE(r.err.find("zibbet: warning, not writing to ev?[1mil on pts/?[2J\n"), std::string::npos)
      << r.err;
  for (char c : r.err) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c != 0x7f)) << int(c);
  EXPECT_FALSE(exists(write_log_));
}

// Shell syntax in user, line and host reaches a command only as "_": the
// command sees the safe bytes, and nothing the record asked for is run.
TEST_F(Hostile, ShellSyntaxFromRecordsNeverRuns) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  const std::string name = "x$(touch pwned)";
  const std::string line = "pts/`touch pw2`";
  const std::string host = "a.b-c:d/e@f+g_h;touch pw3 'q' \"r\" &|<>*?~#!{}[]=%^\\\xc3\xa9";
  std::string file = dir_.write_file("buddies", name + "\n");
  write_records(records_, {user(name, line, host)});
  const std::string work = dir_.path();
  run_result r =
      zibbet({"-o", "-f", file, "-s", "%b %l %h", "-c", "cd " + work + " && echo %b %l %h >> out"});
  expect_clean_end(r);
  EXPECT_EQ(r.out, name + " " + line + " " + host + "\n");  // printable: shown as it is
  const std::string safe_host =
      "a.b-c:d/e@f+g_h_touch_pw3__q___r" + std::string(19, '_') + "\xc3\xa9";
  std::string want = "x__touch_pwned_ pts/_touch_pw2_ " + safe_host + "\n";
  EXPECT_TRUE(wait_until([&] { return read_file(dir_ / "out") == want; }))
      << read_file(dir_ / "out");
  for (const char* f : {"pwned", "pw2", "pw3"}) EXPECT_FALSE(exists(dir_ / f)) << f;
}

// Line names that lead out of /dev, or to things that are not terminals,
// are refused with the warning, without a hang, and nothing is written
// there; the write utility is never started.
TEST_F(Hostile, LinesOutsideDevOrNotTerminalsAreRefused) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  // Lines are told apart by their first 8 bytes, so each starts its own way.
  const std::string pid = std::to_string(getpid());
  scratch_node lone_fifo("/dev/shm/f-" + pid);
  scratch_node read_fifo("/dev/shm/r-" + pid);
  scratch_node plain("/dev/shm/p-" + pid);
  scratch_node target("/tmp/zbt-" + pid);
  ASSERT_EQ(mkfifo(lone_fifo.path().c_str(), 0622), 0);
  ASSERT_EQ(mkfifo(read_fifo.path().c_str(), 0622), 0);
  int reader = open(read_fifo.path().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  for (const scratch_node* f : {&plain, &target}) {
    std::FILE* out = std::fopen(f->path().c_str(), "w");
    ASSERT_NE(out, nullptr);
    std::fclose(out);
  }
  const std::string passwd_before = read_file("/etc/passwd");
  auto line_of = [](const scratch_node& n) { return n.path().substr(std::strlen("/dev/")); };

  const std::vector<std::string> lines = {
      "../../etc/passwd", "pts/../../etc/passwd",  "..",
      "/etc/passwd",      "../.." + target.path(), "",
      line_of(lone_fifo), line_of(read_fifo),      line_of(plain)};
  std::vector<login> logins;
  for (const std::string& l : lines) logins.push_back(user("alice", l));
  write_records(records_, logins);
  run_result r = zibbet({"-o", "-p", "-w", "-F", "-u", "alice", "-s", ""});
  expect_clean_end(r);
  for (const std::string& l : lines) {
    SCOPED_TRACE(l);
    EXPECT_NE(r.out.find("can i write to " + l + "?"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("zibbet: warning, not writing to alice on " + l + "\n"), std::string::npos)
        << r.err;
  }
  EXPECT_FALSE(exists(write_log_));
  EXPECT_EQ(read_file("/etc/passwd"), passwd_before);
  EXPECT_EQ(read_file(target.path()), "");
  EXPECT_EQ(read_file(plain.path()), "");
  char byte = 0;
  EXPECT_LE(read(reader, &byte, 1), 0);  // nothing came down the FIFO
  close(reader);
}

// A records file cut in the middle of a record gives the whole records
// before the cut; an empty file, a directory, a device and a FIFO give
// none, silently and at once.
TEST_F(Hostile, RecordsFilesThatAreCutEmptyOrNotFiles) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  std::vector<utmpx> recs = {make_record(user("alice", "pts/1")), make_record(user("bob", "pts/2")),
                             make_record(user("carol", "pts/3"))};
  std::string bytes(reinterpret_cast<const char*>(recs.data()), sizeof(utmpx) * 2);
  bytes.append(reinterpret_cast<const char*>(&recs[2]), sizeof(utmpx) / 2);
  dir_.write_file("cut", bytes);
  dir_.write_file("empty", "");
  std::string fifo = dir_ / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);

  // Anything but a regular file is read as no records, with one warning.
  struct {
    std::string file;
    std::vector<std::string> lines;
    bool regular;
  } cases[] = {
      {dir_ / "cut", {"alice", "bob"}, true},
      {dir_ / "empty", {}, true},
      {dir_.path(), {}, false},
      {"/dev/zero", {}, false},
      {fifo, {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    run_options opts;
    opts.args = {"-o", "-F", "-u", "alice,bob,carol", "-s", "%b"};
    opts.env = {"ZIBBET_UTMP=" + c.file};
    opts.timeout = 20s;
    run_result r = run(opts);
    expect_clean_end(r);
    EXPECT_EQ(
        r.err,
        c.regular ? "" : "zibbet: warning: ZIBBET_UTMP names " + c.file + ": not a regular file\n");
    EXPECT_EQ(lines_of(r.out), c.lines);
  }
}

// A polling watcher whose records file is replaced by a cut one, emptied,
// and rewritten in place, pass after pass, reports each change.
TEST_F(Hostile, RecordsFileReplacedBetweenPasses) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  write_records(records_, {user("alice", "pts/1")});
  run_options opts;
  opts.args = {"-i", "1", "-F", "-u", "alice,bob,carol", "-s", "%b %o"};
  opts.env = env_;
  opts.stdout_pty = true;
  live_process watcher(opts);
  ASSERT_TRUE(watcher.wait_for_output("alice logged on \r\n"));

  // bob, and half of carol's record, swapped in by rename.
  std::vector<utmpx> recs = {make_record(user("bob", "pts/2")),
                             make_record(user("carol", "pts/3"))};
  std::string cut(reinterpret_cast<const char*>(recs.data()), sizeof(utmpx) + sizeof(utmpx) / 3);
  dir_.write_file("next", cut);
  ASSERT_EQ(std::rename((dir_ / "next").c_str(), records_.c_str()), 0);
  ASSERT_TRUE(watcher.wait_for_output("bob logged on \r\n")) << watcher.out();
  EXPECT_NE(watcher.out().find("alice logged off\r\n"), std::string::npos) << watcher.out();

  // Emptied in place, then rewritten in place.
  ASSERT_EQ(truncate(records_.c_str(), 0), 0);
  ASSERT_TRUE(watcher.wait_for_output("bob logged off\r\n")) << watcher.out();
  utmpx again = make_record(user("carol", "pts/3"));
  int fd = open(records_.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, &again, sizeof again), static_cast<ssize_t>(sizeof again));
  close(fd);
  ASSERT_TRUE(watcher.wait_for_output("carol logged on \r\n")) << watcher.out();

  run_result r = watcher.stop();
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "alice logged on \r\nalice logged off\r\nbob logged on \r\nbob logged off\r\n"
            "carol logged on \r\n");
}

// ---- the write utility --------------------------------------------------------

// A write utility that is missing, that exits without reading a greeting
// far larger than a pipe holds, or that fails: each costs only its
// greeting (with a message where there is one), and the command and the
// other buddy's greeting still happen.
TEST_F(Hostile, MisbehavingWriteUtilities) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  pseudo_terminal tty_a;
  pseudo_terminal tty_b;
  // Larger than a pipe holds, within what one argument may be.
  const std::string huge(100 * 1024, 'g');
  std::string file = dir_.write_file("buddies", "alice\nbob\n");
  write_records(records_, {user("alice", tty_a.line()), user("bob", tty_b.line())});
  const std::string ran = dir_ / "ran";

  struct {
    const char* what;
    std::string body;  // empty: no write on PATH at all
    std::string err;   // a message the run must carry
  } cases[] = {
      {"missing", "", "zibbet: cannot run write: No such file or directory\n"},
      {"exits at once", "exit 0\n", ""},
      {"fails",
       "cat >> \"$FAKE_WRITE_LOG\"; echo 'write: you have write permission turned off.' >&2; exit "
       "1\n",
       "write: you have write permission turned off.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    unlink(ran.c_str());
    unlink(write_log_.c_str());
    if (c.body.empty()) {
      unlink((bin_ + "/write").c_str());
      env_.back() = "PATH=" + bin_;  // not even the host's own write
    } else {
      use_write(c.body);
      env_.back() = "PATH=" + bin_ + ":" + system_path_;
    }
    run_result r = zibbet(
        {"-o", "-p", "-w", "-f", file, "-s", "%b", "-m", huge + " %b", "-c", "echo %b >> " + ran});
    expect_clean_end(r);
    // The prompt has no newline of its own; the buddies come in table order.
    const std::string a = "alice\ncan i write to " + tty_a.line() + "?";
    const std::string b = "bob\ncan i write to " + tty_b.line() + "?";
    EXPECT_TRUE(r.out == a + b || r.out == b + a) << r.out;
    if (!c.err.empty()) {
      EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
    EXPECT_TRUE(wait_until([&] { return lines_of(read_file(ran)).size() == 2; })) << read_file(ran);
    EXPECT_EQ(lines_of(read_file(ran)), (std::vector<std::string>{"alice", "bob"}));
    if (std::string(c.what) == "fails") {
      // A write that fails after reading got both greetings whole.
      std::string log = read_file(write_log_);
      EXPECT_EQ(log.size(), (huge + " alice\n\n").size() + (huge + " bob\n\n").size());
      EXPECT_NE(log.find(huge + " alice\n\n"), std::string::npos);
      EXPECT_NE(log.find(huge + " bob\n\n"), std::string::npos);
    }
  }
}

// A greeting of a mebibyte reaches a write utility that reads it, whole
// and followed by the extra newline.
TEST_F(Hostile, MebibyteGreetingArrivesWhole) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  pseudo_terminal tty;
  const std::string huge(1 << 20, 'm');
  std::string file = dir_.write_file("buddies", "alice:-w -s %b -m '" + huge + "'\n");
  write_records(records_, {user("alice", tty.line())});
  run_result r = zibbet({"-o", "-p", "-f", file, "-s", "%b"});
  expect_clean_end(r);
  EXPECT_EQ(r.out, "alice\ncan i write to " + tty.line() + "?");
  EXPECT_EQ(read_file(write_log_), "argv: [alice] [" + tty.line() + "]\n" + huge + "\n\n");
}

}  // namespace
}  // namespace zibbet::test
