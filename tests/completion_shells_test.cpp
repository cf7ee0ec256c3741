// completion_shells_test.cpp - the bash, zsh and fish completions as a user
// meets them: installed under a prefix by `cmake --install`, found there by
// a new shell of each kind, and completing what the program accepts.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <set>
#include <sstream>

#include "support/harness.h"
#include "support/shell.h"

namespace zibbet::test {
namespace {

using namespace std::chrono_literals;

// Every option, as the program takes it.
const std::set<std::string> every_option = {"-a",
                                            "-c",
                                            "-f",
                                            "-F",
                                            "-h",
                                            "-i",
                                            "-m",
                                            "-n",
                                            "-o",
                                            "-p",
                                            "-q",
                                            "-s",
                                            "-u",
                                            "-v",
                                            "-w",
                                            "--all-users",
                                            "--exec-command",
                                            "--buddyfile",
                                            "--no-buddyfile",
                                            "--help",
                                            "--interval",
                                            "--message",
                                            "--no-newline",
                                            "--process-once",
                                            "--process-current",
                                            "--silent",
                                            "--status-message",
                                            "--users",
                                            "--version",
                                            "--write-buddies"};

std::string my_name() {
  const passwd* me = getpwuid(getuid());
  return me != nullptr ? me->pw_name : "";
}

// The completions installed under a scratch prefix, a scratch home with a
// buddy file to complete, and a home that is what Debian gives root.
class InstalledCompletion : public ::testing::Test {
 protected:
  void SetUp() override {
    run_options opts;
    opts.program = find_program("cmake");
    if (opts.program.empty()) GTEST_SKIP() << "cmake is not on PATH";
    opts.args = {"--install", ZIBBET_BUILD_DIR, "--prefix", prefix.path()};
    opts.timeout = 60s;
    run_result r = run(opts);
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    files.write_file("buddies", "alice\n");
    files.write_file("notes", "");
  }

  temp_dir prefix;
  temp_dir home;
  temp_dir files;
};

// A line typed into an interactive shell, a tab at the end of it, then
// Enter: the shell runs the zibbet function it was given, which prints the
// words the completion made.
struct typed_case {
  std::string typed;  // after "zibbet "
  std::string words;  // what the function gets, joined by blanks
};

std::vector<typed_case> typed_cases(const std::string& files_dir) {
  std::string me = my_name();
  return {
      {"--no-b", "--no-buddyfile"},
      {"--process-c", "--process-current"},
      {"-f " + files_dir + "/bu", "-f " + files_dir + "/buddies"},
      {"-u alice," + me.substr(0, me.size() - 1), "-u alice," + me},
  };
}

// complete_in - types each case into the shell, after `setup`, and checks
// the words the completion made.
void complete_in(pty_session& shell, const std::string& setup, const std::string& files_dir) {
  shell.type(setup + "\r");
  shell.type("echo READY\r");
  ASSERT_TRUE(shell.wait_for("READY\r\n", 0, 30s)) << shell.output();
  for (const typed_case& c : typed_cases(files_dir)) {
    SCOPED_TRACE(c.typed);
    std::size_t from = shell.output().size();
    // The shell reads the keys in order: Enter after the completion is done.
    shell.type("zibbet " + c.typed + "\t\r");
    EXPECT_TRUE(shell.wait_for("ARGS[" + c.words + "]", from, 20s)) << shell.output().substr(from);
  }
}

// A new interactive bash finds the installed completion through
// bash-completion: a login shell of Debian's root (whose .bashrc loads no
// completion, /etc/profile does), and a new user's shell (/etc/skel/.bashrc).
TEST_F(InstalledCompletion, BashFindsItInANewInteractiveShell) {
  if (access("/usr/share/bash-completion/bash_completion", R_OK) != 0)
    GTEST_SKIP() << "bash-completion is not installed";
  struct {
    const char* what;
    const char* bashrc;
    const char* profile;
    std::vector<std::string> args;
  } shells[] = {
      {"root's login shell",
       "/usr/share/base-files/dot.bashrc",
       "/usr/share/base-files/dot.profile",
       {"-il"}},
      {"a new user's shell", "/etc/skel/.bashrc", "/etc/skel/.profile", {"-i"}},
  };
  for (const auto& s : shells) {
    SCOPED_TRACE(s.what);
    if (access(s.bashrc, R_OK) != 0) continue;
    temp_dir user_home;
    user_home.write_file(".bashrc", read_file(s.bashrc));
    user_home.write_file(".profile", read_file(s.profile));
    run_options opts;
    opts.program = find_program("bash");
    opts.args = s.args;
    opts.env = {"HOME=" + user_home.path(),
                "TERM=dumb",
                "XDG_DATA_DIRS=" + prefix / "share:/usr/share",
                "BASH_COMPLETION_USER_DIR=" + user_home / "none",
                "PS1=$ ",
                "BASH_ENV",
                "ENV"};
    pty_session shell(opts);
    complete_in(shell, "zibbet() { echo \"ARGS[$*]\"; }", files.path());
  }
}

TEST_F(InstalledCompletion, ZshFindsItInItsSiteFunctions) {
  std::string zsh = find_program("zsh");
  if (zsh.empty()) GTEST_SKIP() << "zsh is not installed";
  EXPECT_EQ(read_file(prefix / "share/zsh/site-functions/_zibbet"),
            read_file(source_dir() + "/completion/_zibbet"));
  run_options opts;
  opts.program = zsh;
  opts.args = {"-f", "-i"};
  opts.env = {"HOME=" + home.path(), "TERM=dumb"};
  pty_session shell(opts);
  complete_in(shell,
              "PS1='$ '; fpath=(" + prefix / "share/zsh/site-functions" +
                  " $fpath); autoload -Uz compinit; compinit -u -D; "
                  "zibbet() { print -r -- \"ARGS[$*]\" }",
              files.path());
}

// fish's own completion query: each candidate on a line, a tab before its
// description.
std::set<std::string> fish_candidates(const std::string& prefix_dir, const std::string& home_dir,
                                      const std::string& line) {
  run_options opts;
  opts.program = find_program("fish");
  opts.args = {"-c", "complete -C $argv[1]", line};
  // fish loads the completion of a command it finds on PATH.
  const char* path = std::getenv("PATH");
  opts.env = {"HOME=" + home_dir, "XDG_DATA_DIRS=" + prefix_dir + "/share:/usr/share",
              "XDG_CONFIG_HOME=" + home_dir + "/.config",
              "PATH=" + prefix_dir + "/bin:" + (path != nullptr ? path : "/usr/bin:/bin")};
  opts.timeout = 30s;
  run_result r = run(opts);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::set<std::string> out;
  std::stringstream in(r.out);
  for (std::string l; std::getline(in, l);) out.insert(l.substr(0, l.find('\t')));
  return out;
}

TEST_F(InstalledCompletion, FishFindsItInItsVendorCompletions) {
  if (find_program("fish").empty()) GTEST_SKIP() << "fish is not installed";
  EXPECT_EQ(read_file(prefix / "share/fish/vendor_completions.d/zibbet.fish"),
            read_file(source_dir() + "/completion/zibbet.fish"));
  std::string me = my_name();
  std::string d = files.path();
  struct {
    std::string line;
    std::set<std::string> want;
  } cases[] = {
      {"zibbet -", every_option},
      {"zibbet --no", {"--no-buddyfile", "--no-newline"}},
      {"zibbet --st", {"--status-message"}},
      {"zibbet -f " + d + "/bu", {d + "/buddies"}},
      {"zibbet --buddyfile=" + d + "/no", {"--buddyfile=" + d + "/notes"}},
      {"zibbet -m ", {}},  // a template: nothing to offer
      {"zibbet -o x", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(fish_candidates(prefix.path(), home.path(), c.line), c.want);
  }
  // User names after -u, also after the commas of a list.
  EXPECT_TRUE(fish_candidates(prefix.path(), home.path(), "zibbet -u " + me).contains(me));
  std::set<std::string> listed =
      fish_candidates(prefix.path(), home.path(), "zibbet --users=alice," + me);
  EXPECT_TRUE(listed.contains("--users=alice," + me));
  for (const std::string& c : listed) EXPECT_TRUE(c.starts_with("--users=alice,")) << c;
}

}  // namespace
}  // namespace zibbet::test
