// docs_test.cpp - every command the README and the manual page's EXAMPLES
// show works as shown: each line is pasted into bash in a fresh folder, as
// in a root shell of a fresh container (HOME without a buddy file, USER
// unset), against login records the test writes (ZIBBET_UTMP), and ended
// within bounded time. The README's demo, install and package commands
// install into the system; they run in a scratch copy of the source tree
// when ZIBBET_TEST_SYSTEM_INSTALL=1 (scripts/test sets it).
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>

#include "support/documents.h"
#include "support/harness.h"
#include "support/platform.h"
#include "support/records.h"
#include "support/shell.h"
#include "support/terminal.h"

namespace zibbet::test {
namespace {

using namespace std::chrono_literals;

std::string my_name() {
  const passwd* me = getpwuid(getuid());
  return me != nullptr ? me->pw_name : "";
}

// at - a login of `user` on `line`, from `host`.
login at(std::string user, std::string line, std::string host = "") {
  return {std::move(user), std::move(line), std::move(host)};
}

// What a command is run against and what it must do. In records, lines and
// texts, ME stands for the name of the user running the test and TTY for
// the line of a pseudo-terminal (a terminal a buddy can be greeted on).
struct scenario {
  std::string command;                            // as shown, without its comment
  std::vector<login> before;                      // the records when it starts
  std::vector<std::string> want;                  // patterns of lines it shows then
  std::vector<login> after = {};                  // the records written next, if any
  std::vector<std::string> want_after = {};       // patterns of lines shown after that
  std::vector<std::string> never = {};            // texts that must not show
  std::string want_err = "";                      // a pattern on standard error ("": none)
  std::string at_end = "";                        // a text in its whole output once it ended
  bool ends = false;                              // ends by itself (else Ctrl-C ends it)
  std::optional<int> status = 0;                  // its exit status (nullopt: any)
  std::map<std::string, std::string> files = {};  // file in its folder: a pattern it gets
  std::string greeting = "";                      // what `write` gets, if anything
  std::string records_file = "utmp";              // where `before` goes
  bool in_source_tree = false;                    // run in the source tree, not a fresh folder
};

const std::vector<scenario>& scenarios() {
  static const std::vector<scenario> table = {
      // README: Use it
      {.command = "zibbet -o -F -u \"$(id -un)\"",
       .before = {at("ME", "pts/1"), at("alice", "pts/2")},
       .want = {"ME logged on  pts/1    from localhost"},
       .never = {"alice", "unable to open"},
       .ends = true},
      {.command = "zibbet -F -u alice,bob",
       .before = {at("alice", "pts/1"), at("carol", "pts/4")},
       .want = {"alice logged on  pts/1    from localhost"},
       .after = {at("alice", "pts/1"), at("carol", "pts/4"), at("bob", "pts/2", "10.0.0.7")},
       .want_after = {"bob logged on  pts/2    from 10\\.0\\.0\\.7"},
       .never = {"carol", "unable to open", "ME"}},
      {.command = "zibbet -v", .before = {}, .want = {}, .want_err = "^zibbet v", .ends = true},
      // README: Templates
      {.command = "zibbet -F -u alice -s '%d %b %o %l'",
       .before = {at("alice", "pts/3")},
       .want = {"[0-9]{2}:[0-9]{2}:[0-9]{2} alice logged on  pts/3"},
       .never = {"from"}},
      // (tty63, not a pts/N line: the test's own terminal may be any pts/N)
      {.command = "zibbet -F -u alice -w -m '%a%u here, %b. Coffee?'",
       .before = {at("alice", "tty63")},
       .want = {"alice logged on  tty63"},  // there already: not greeted
       .after = {at("alice", "tty63"), at("alice", "TTY")},
       .want_after = {"alice logged on  TTY"},
       .at_end = "can i write to TTY?",
       .greeting = "argv: [alice] [TTY]\n\aME here, alice. Coffee?\n\n"},
      {.command = "zibbet -F -u alice -c 'echo %b %l %h >> $HOME/logins'",
       .before = {at("alice", "pts/1", "host.example")},
       .want = {"alice logged on  pts/1    from host\\.example"},
       .files = {{"logins", "^alice pts/1 host\\.example\n$"}}},
      // README: Environment and signals; the page's last example
      {.command = "stdbuf -oL zibbet -F -u alice | tee logins.txt",
       .before = {at("alice", "pts/1")},
       .want = {"alice logged on  pts/1"},
       .status = std::nullopt,  // Ctrl-C ends tee too
       .files = {{"logins.txt", "^\\([0-9:]{8}\\)  alice logged on  pts/1    from localhost\n$"}}},
      // README: The manual
      {.command = "man -l man/zibbet.1",
       .before = {},
       .want = {"zibbet - watch chosen users log on and off"},
       .ends = true,
       .in_source_tree = true},
      // The page's EXAMPLES
      {.command = "zibbet -o -F -u alice,bob",
       .before = {at("alice", "pts/1"), at("carol", "pts/3"), at("bob", "pts/2")},
       .want = {"alice logged on  pts/1", "bob logged on  pts/2"},
       .never = {"carol"},
       .ends = true},
      {.command = "zibbet -F -u alice,bob -i 10 -s '%d %b %o %l'",
       .before = {at("bob", "pts/2")},
       .want = {"[0-9]{2}:[0-9]{2}:[0-9]{2} bob logged on  pts/2"}},
      {.command = "zibbet -F -u alice,bob -p -w -m 'hi %b, %u is around' \\\n"
                  "       -c 'echo %b %l %h >> $HOME/logins'",
       .before = {at("alice", "TTY")},
       .want = {"alice logged on  TTY"},
       .at_end = "can i write to TTY?",
       .files = {{"logins", "^alice TTY localhost\n$"}},
       .greeting = "argv: [alice] [TTY]\nhi alice, ME is around\n\n"},
      {.command = "ZIBBET_UTMP=utmp.saved zibbet -o -a",
       .before = {at("ME", "pts/1"), at("daemon", "pts/2"), at("no-such-user", "pts/3")},
       .want = {"ME logged on  pts/1", "daemon logged on  pts/2"},
       .never = {"no-such-user", "pts/9"},
       .ends = true,
       .records_file = "utmp.saved"},
  };
  return table;
}

// The README's commands that install into the system or build the tree,
// run by SystemInstall below; and the command that runs these tests.
const std::vector<std::string> system_commands = {
    "scripts/demo",
    "cmake --preset release",
    "cmake --build build",
    "cmake --install build",
    "(cd build && cpack -G DEB)",
    "apt install ./build/zibbet_*.deb",
    "man zibbet",
};
const std::string test_command = "scripts/test";

TEST(Docs, EveryCommandShownIsRunByATest) {
  std::set<std::string> known{test_command};
  for (const scenario& s : scenarios()) known.insert(s.command);
  known.insert(system_commands.begin(), system_commands.end());

  std::vector<shown_command> shown = readme_commands();
  ASSERT_GE(shown.size(), 10u) << "the README's sh blocks were not found";
  std::vector<shown_command> page = man_commands();
  ASSERT_GE(page.size(), 5u) << "the page's examples were not found";
  shown.insert(shown.end(), page.begin(), page.end());

  std::set<std::string> all;
  for (const shown_command& c : shown) {
    EXPECT_TRUE(known.contains(c.key)) << "no test runs this command:\n" << c.key;
    all.insert(c.key);
  }
  for (const std::string& k : known)
    EXPECT_TRUE(all.contains(k)) << "a test runs a command no document shows any more:\n" << k;
}

// A fresh folder that is also HOME, a terminal for greetings, and a fake
// write that logs what it is given.
class DocumentedCommand : public ::testing::TestWithParam<scenario> {
 protected:
  std::string fill(const std::string& text) const {
    return replace_all(replace_all(text, "ME", me), "TTY", tty.line());
  }
  std::vector<login> fill(const std::vector<login>& logins) const {
    std::vector<login> out = logins;
    for (login& l : out) {
      l.user = fill(l.user);
      l.line = fill(l.line);
    }
    return out;
  }
  // expect_shown - waits until the output after `from` holds a whole line
  // matching each pattern, then moves `from` past the last of them.
  void expect_shown(live_process& p, const std::vector<std::string>& patterns, std::size_t& from) {
    std::size_t end = from;
    for (const std::string& pattern : patterns) {
      std::regex re(fill(pattern));
      std::smatch m;
      bool found = wait_until(
          [&] {
            p.wait_for_output("\x01(read for a while)", 50ms);
            std::string rest = p.out().substr(from);
            return std::regex_search(rest, m, re) &&
                   rest.find('\n', static_cast<std::size_t>(m.position())) != std::string::npos;
          },
          10s);
      ASSERT_TRUE(found) << "no line matching " << fill(pattern) << " in\n"
                         << p.out() << "\nstandard error:\n"
                         << p.err();
      end = std::max(end, from + static_cast<std::size_t>(m.position() + m.length()));
    }
    from = end;
  }

  std::string me = my_name();
  pseudo_terminal tty;
  temp_dir home;
};

TEST_P(DocumentedCommand, WorksAsShown) {
  const scenario& s = GetParam();
  // Every command but the page's, which runs in the source tree, starts zibbet.
  if (auto why = skip_reason_under_emulation(emulation_need::program_start);
      why && !s.in_source_tree)
    GTEST_SKIP() << *why;
  if (s.in_source_tree && find_program("man").empty()) GTEST_SKIP() << "man is not installed";
  if (s.command.starts_with("stdbuf") && find_program("stdbuf").empty())
    GTEST_SKIP() << "stdbuf is not installed";
  ASSERT_NE(tty.line(), "");
  std::string bin = install_fake_write(home);
  std::string zibbet_dir = zibbet_binary().substr(0, zibbet_binary().rfind('/'));
  write_records(home / s.records_file, fill(s.before));
  if (s.records_file != "utmp") write_records(home / "utmp", {at(me, "pts/9")});

  std::string dir = s.in_source_tree ? source_dir() : home.path();
  run_options opts = shell_line(
      dir, line_for(s.command),
      {"HOME=" + home.path(), "USER", "LOGNAME", "MANPAGER", "PAGER",
       "ZIBBET_UTMP=" + home / "utmp", "FAKE_WRITE_LOG=" + home / "write.log", "TERM=dumb",
       "PATH=" + zibbet_dir + ":" + bin + ":/usr/sbin:/usr/bin:/sbin:/bin"});
  // stdbuf preloads its library ahead of a sanitized binary's runtime.
  if (!std::string(ZIBBET_ASAN_RUNTIME).empty()) {
    const char* asan = std::getenv("ASAN_OPTIONS");
    opts.env.push_back("ASAN_OPTIONS=" + std::string(asan != nullptr ? asan : "") +
                       ":verify_asan_link_order=0");
  }
  // As in a shell: standard output is the terminal, unless the command
  // only pages text (then it goes to a pipe, and no pager starts).
  opts.stdout_pty = !s.in_source_tree;
  opts.timeout = 60s;
  live_process p(opts);

  std::size_t from = 0;
  expect_shown(p, s.want, from);
  if (!s.after.empty()) {
    write_records(home / s.records_file, fill(s.after));
    expect_shown(p, s.want_after, from);
  }
  for (const auto& [name, text] : s.files) {
    std::string path = (s.in_source_tree ? source_dir() : home.path()) + "/" + name;
    std::regex re(fill(text));
    EXPECT_TRUE(wait_until([&] { return std::regex_search(read_file(path), re); }, 10s))
        << name << " holds:\n"
        << read_file(path);
  }
  if (!s.greeting.empty()) {
    EXPECT_TRUE(wait_until([&] { return read_file(home / "write.log") == fill(s.greeting); }, 15s))
        << "write got:\n"
        << read_file(home / "write.log");
  }

  run_result r;
  if (s.ends) {
    EXPECT_TRUE(p.wait_exit(30s)) << "it did not end by itself";
    r = p.stop();
  } else {
    kill(-p.pid(), SIGINT);  // Ctrl-C: the whole foreground group
    EXPECT_TRUE(p.wait_exit(10s)) << "Ctrl-C did not end it";
    r = p.stop();
  }
  EXPECT_FALSE(r.timed_out);
  EXPECT_NE(r.out.find(fill(s.at_end)), std::string::npos) << r.out;
  if (s.status) {
    EXPECT_EQ(r.exit_code, *s.status) << r.out << r.err;
  }
  for (const std::string& text : s.never)
    EXPECT_EQ((r.out + r.err).find(fill(text)), std::string::npos) << text << " in\n"
                                                                   << r.out << r.err;
  if (s.want_err.empty()) {
    EXPECT_EQ(r.err, "");
  } else {
    EXPECT_TRUE(std::regex_search(r.err, std::regex(s.want_err))) << r.err;
  }
}

INSTANTIATE_TEST_SUITE_P(ReadmeAndPage, DocumentedCommand, ::testing::ValuesIn(scenarios()),
                         [](const ::testing::TestParamInfo<scenario>& param) {
                           std::string name = "command" + std::to_string(param.index) + "_";
                           for (char c : param.param.command.substr(0, 40))
                             name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

}  // namespace
}  // namespace zibbet::test
