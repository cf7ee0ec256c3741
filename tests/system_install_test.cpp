// system_install_test.cpp - the README's recipes as a new user follows
// them on a fresh Debian machine, as root: the demo, the install from
// source and the Debian package, each command pasted as shown into a shell
// in a scratch copy of the source tree; then what the package gives a new
// shell. They install into the system, so they run only when
// ZIBBET_TEST_SYSTEM_INSTALL=1 (scripts/test sets it), and what they
// installed is removed again.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "support/documents.h"
#include "support/harness.h"
#include "support/shell.h"

namespace zibbet::test {
namespace {

using namespace std::chrono_literals;

bool package_installed() {
  run_options opts;
  opts.program = find_program("dpkg-query");
  opts.args = {"-W", "-f=${Status}", "zibbet"};
  return !opts.program.empty() && run(opts).out.find("install ok installed") != std::string::npos;
}

// Puts the system back as the test found it: the files `cmake --install`
// put under /usr/local, and the package when it was not installed before.
class undo_installs {
 public:
  explicit undo_installs(std::string manifest)
      : manifest_(std::move(manifest)), had_package_(package_installed()) {
    for (const char* dir : install_dirs)
      if (access(dir, F_OK) != 0) new_dirs_.emplace_back(dir);
  }
  ~undo_installs() {
    remove_local_install();
    if (!had_package_ && package_installed()) {
      run_options opts;
      opts.program = find_program("apt-get");
      opts.args = {"purge", "-y", "-q", "zibbet"};
      opts.env = {"DEBIAN_FRONTEND=noninteractive"};
      opts.timeout = 300s;
      run(opts);
    }
  }
  undo_installs(const undo_installs&) = delete;
  undo_installs& operator=(const undo_installs&) = delete;

  /// Removes the files listed in the install manifest, and the folders
  /// the install made for them.
  void remove_local_install() const {
    std::stringstream files(read_file(manifest_));
    for (std::string file; std::getline(files, file);)
      if (file.starts_with("/usr/local/")) unlink(file.c_str());
    for (const std::string& dir : new_dirs_) rmdir(dir.c_str());  // deepest first
  }

 private:
  // The folders under /usr/local that `cmake --install` may make, deepest first.
  static constexpr const char* install_dirs[] = {
      "/usr/local/share/doc/zibbet",
      "/usr/local/share/doc",
      "/usr/local/share/fish/vendor_completions.d",
      "/usr/local/share/fish",
      "/usr/local/share/bash-completion/completions",
      "/usr/local/share/bash-completion",
      "/usr/local/share/zsh/site-functions",
      "/usr/local/share/zsh",
      "/usr/local/share/man/man1",
      "/usr/local/share/man",
  };
  std::string manifest_;
  bool had_package_;
  std::vector<std::string> new_dirs_;
};

TEST(SystemInstall, ReadmeRecipesWorkAsShown) {
  const char* wanted = std::getenv("ZIBBET_TEST_SYSTEM_INSTALL");
  if (wanted == nullptr || std::string(wanted) != "1")
    GTEST_SKIP() << "installs into the system: set ZIBBET_TEST_SYSTEM_INSTALL=1 "
                    "(scripts/test does)";
  if (getuid() != 0) GTEST_SKIP() << "the README's recipes are for root";
  if (!std::string(ZIBBET_ASAN_RUNTIME).empty())
    GTEST_SKIP() << "builds a copy of its own: run from the plain build only";
  for (const char* tool : {"cmake", "g++", "apt", "dpkg-query", "man", "tar"})
    if (find_program(tool).empty()) GTEST_SKIP() << tool << " is missing";

  // A fresh root home: no buddy file, Debian's own dot files.
  temp_dir home;
  home.write_file(".bashrc", read_file("/usr/share/base-files/dot.bashrc"));
  home.write_file(".profile", read_file("/usr/share/base-files/dot.profile"));
  const std::vector<std::string> env = {
      "HOME=" + home.path(), "USER", "LOGNAME", "XDG_DATA_DIRS", "MANPAGER", "PAGER", "ZIBBET_UTMP",
      "ZIBBET_DEMO_BUILD"};

  temp_dir copy;
  run_options tar =
      shell_line(source_dir(),
                 "tar --exclude='./build*' --exclude=./fuzz-work --exclude=./.git -cf - . | "
                 "tar -C \"$COPY\" -xf -",
                 {"COPY=" + copy.path()});
  ASSERT_EQ(run(tar).exit_code, 0);
  undo_installs undo(copy / "build/install_manifest.txt");

  // paste - runs the README's line for `key` in the copy, as root would,
  // answering yes should apt ask.
  auto paste = [&](const std::string& key) {
    SCOPED_TRACE(key);
    run_options opts = shell_line(copy.path(), line_for(key), env);
    opts.stdin_data = "Y\n";
    opts.timeout = 600s;
    run_result r = run(opts);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    return r;
  };

  run_result r = paste("scripts/demo");
  EXPECT_NE(r.out.find("(zibbet exited with status 0)"), std::string::npos) << r.out;

  paste("cmake --preset release");
  paste("cmake --build build");
  paste("cmake --install build");
  run_options local;
  local.program = "/usr/local/bin/zibbet";
  local.args = {"-v"};
  EXPECT_TRUE(run(local).err.starts_with("zibbet v"));
  for (const char* file :
       {"/usr/local/share/man/man1/zibbet.1", "/usr/local/share/bash-completion/completions/zibbet",
        "/usr/local/share/zsh/site-functions/_zibbet",
        "/usr/local/share/fish/vendor_completions.d/zibbet.fish"})
    EXPECT_EQ(access(file, R_OK), 0) << file;
  undo.remove_local_install();  // the package's copy is the one to try next

  paste("(cd build && cpack -G DEB)");
  paste("apt install ./build/zibbet_*.deb");
  ASSERT_TRUE(package_installed());

  // A new shell finds the program and its page.
  r = run(shell_line(home.path(), "command -v zibbet && zibbet -v", env));
  EXPECT_EQ(r.out, "/usr/bin/zibbet\n");
  EXPECT_TRUE(r.err.starts_with("zibbet v")) << r.err;
  r = paste("man zibbet");
  EXPECT_NE(r.out.find("zibbet - watch chosen users log on and off"), std::string::npos);

  if (std::string check = find_program("hardening-check"); !check.empty()) {
    run_options opts;
    opts.program = check;
    opts.args = {"--nocfprotection", "/usr/bin/zibbet"};  // see ship_test.cpp
    r = run(opts);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  }

  // Completion in new interactive shells: root's login bash (through the
  // bash-completion the package recommends) and zsh with its completion
  // system; the zibbet function shows the words the completion made.
  struct {
    const char* shell;
    std::vector<std::string> args;
    const char* setup;
  } shells[] = {
      {"bash", {"-il"}, "zibbet() { echo \"ARGS[$*]\"; }"},
      {"zsh",
       {"-f", "-i"},
       "autoload -Uz compinit; compinit -u -D; zibbet() { print -r -- \"ARGS[$*]\" }"},
  };
  for (const auto& s : shells) {
    SCOPED_TRACE(s.shell);
    run_options opts;
    opts.program = find_program(s.shell);
    if (opts.program.empty()) continue;
    opts.args = s.args;
    opts.env = env;
    opts.env.push_back("TERM=dumb");
    pty_session shell(opts);
    shell.type(std::string(s.setup) + "\recho READY\r");
    ASSERT_TRUE(shell.wait_for("READY\r\n", 0, 30s)) << shell.output();
    std::size_t from = shell.output().size();
    shell.type("zibbet --no-b\t\r");
    EXPECT_TRUE(shell.wait_for("ARGS[--no-buddyfile]", from, 20s)) << shell.output().substr(from);
  }
  if (std::string fish = find_program("fish"); !fish.empty()) {
    run_options opts;
    opts.program = fish;
    opts.args = {"-c", "complete -C 'zibbet --no-b'"};
    opts.env = env;
    r = run(opts);
    EXPECT_TRUE(r.out.starts_with("--no-buddyfile\t")) << r.out << r.err;
  }
}

}  // namespace
}  // namespace zibbet::test
