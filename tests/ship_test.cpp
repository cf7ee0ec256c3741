// ship_test.cpp - what a user gets: the manual page renders cleanly and
// documents every option, `cmake --install` lays out a working tree, the
// Debian package holds the program with sound metadata and passes lintian
// and hardening-check, and the bash completion completes the options the
// program really accepts.
#include <dirent.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <sstream>

#include "support/context.h"
#include "support/harness.h"
#include "support/platform.h"
#include "support/shell.h"

namespace zibbet::test {
namespace {

using namespace std::chrono_literals;

const std::string banner_line = banner();

// The long names the option scanner accepts, and whether each takes a value.
const struct {
  const char* name;
  char letter;
  bool takes_value;
} long_options[] = {
    {"all-users", 'a', false},     {"exec-command", 'c', true},
    {"help", 'h', false},          {"buddyfile", 'f', true},
    {"no-buddyfile", 'F', false},  {"interval", 'i', true},
    {"message", 'm', true},        {"no-newline", 'n', false},
    {"process-once", 'o', false},  {"process-current", 'p', false},
    {"silent", 'q', false},        {"status-message", 's', true},
    {"users", 'u', true},          {"version", 'v', false},
    {"write-buddies", 'w', false},
};

// run_tool - runs a tool found on PATH to its end.
run_result run_tool(const std::string& tool, std::vector<std::string> args,
                    std::chrono::milliseconds timeout = 60s) {
  run_options opts;
  opts.program = tool;
  opts.args = std::move(args);
  opts.timeout = timeout;
  return run(opts);
}

// lines - the lines of a text, without their newlines.
std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

bool is_executable_file(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

const std::string page_path = source_dir() + "/man/zibbet.1";
// The page as installed: the source page with the version in its footer.
const std::string built_page_path = std::string(ZIBBET_BUILD_DIR) + "/man/zibbet.1";
const std::string completion_path = source_dir() + "/completion/zibbet.bash";

// --- The manual page -----------------------------------------------------

// The version is the project's, set in one place, and the page shows it.
TEST(ManPage, TheBuiltPageCarriesTheProjectsVersion) {
  std::string page = read_file(built_page_path);
  ASSERT_FALSE(page.empty()) << built_page_path;
  EXPECT_NE(page.find("\n.TH ZIBBET 1 "), std::string::npos);
  EXPECT_NE(page.find(std::string("\"zibbet ") + ZIBBET_VERSION + "\" \"User Commands\"\n"),
            std::string::npos);
  EXPECT_EQ(read_file(page_path).find(ZIBBET_VERSION), std::string::npos)
      << "the source page names a version of its own";
}

TEST(ManPage, RendersWithoutWarnings) {
  std::string groff = find_program("groff");
  if (groff.empty()) GTEST_SKIP() << "groff is not installed";
  run_result r = run_tool(groff, {"-man", "-ww", "-z", page_path});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");

  std::string man = find_program("man");
  if (man.empty()) return;
  run_options opts;
  opts.program = man;
  opts.args = {"--warnings", "-l", page_path};
  opts.env = {"MANPAGER=cat", "PAGER=cat", "MANWIDTH=80"};
  opts.timeout = 60s;
  r = run(opts);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("zibbet - watch chosen users log on and off"), std::string::npos);
}

// The rendered text, as a reader sees it: every section the page promises,
// every option in both forms, and every template escape.
TEST(ManPage, DocumentsEveryOptionEscapeAndSection) {
  std::string groff = find_program("groff");
  if (groff.empty()) GTEST_SKIP() << "groff is not installed";
  run_result r = run_tool(groff, {"-man", "-Tascii", "-P", "-cbou", "-rLL=200n", page_path});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string& text = r.out;

  for (const char* section : {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "THE BUDDY FILE",
                              "TEMPLATES", "GREETINGS AND COMMANDS", "SIGNALS", "ENVIRONMENT",
                              "FILES", "EXIT STATUS", "EXAMPLES", "SEE ALSO"}) {
    EXPECT_NE(text.find("\n" + std::string(section) + "\n"), std::string::npos) << section;
  }
  for (const auto& o : long_options) {
    std::string both = std::string("-") + o.letter + ", --" + o.name;
    EXPECT_NE(text.find(both), std::string::npos) << both;
  }
  for (const char* escape : {"%H", "%a", "%b", "%d", "%h", "%l", "%m", "%n", "%o", "%u", "%%"}) {
    EXPECT_NE(text.find(escape), std::string::npos) << escape;
  }
  for (const char* must :
       {"HOME", "ZIBBET_UTMP", "SIGTERM", "(%d)  %b %o %l from %h",
        "(zibbet)  %u says: \"shoutout to my homie %b.\"", "write(1)", "who(1)"}) {
    EXPECT_NE(text.find(must), std::string::npos) << must;
  }
}

// Each long name the page and the completion offer is one the program takes
// (the usage text's --exec-cmd and --write-budies are not).
TEST(ManPage, LongNamesAreAcceptedByTheProgram) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  for (const auto& o : long_options) {
    std::string word = std::string("--") + o.name + (o.takes_value ? "=7" : "");
    SCOPED_TRACE(word);
    run_result r = run_zibbet({"-F", word, "-v"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err.substr(0, banner_line.size()), banner_line) << r.err;
  }
  for (const char* wrong : {"--exec-cmd=true", "--write-budies"}) {
    run_result r = run_zibbet({"-F", wrong, "-v"});
    EXPECT_NE(r.err.find("unrecognized option"), std::string::npos) << wrong;
  }
}

// --- Install ---------------------------------------------------------------

TEST(Install, PrefixGetsBinaryPageAndCompletion) {
  if (auto why = skip_reason_under_emulation(emulation_need::package)) GTEST_SKIP() << *why;
  std::string cmake = find_program("cmake");
  if (cmake.empty()) GTEST_SKIP() << "cmake is not on PATH";
  temp_dir prefix;
  run_result r = run_tool(cmake, {"--install", ZIBBET_BUILD_DIR, "--prefix", prefix.path()});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;

  std::string binary = prefix / "bin/zibbet";
  ASSERT_TRUE(is_executable_file(binary));
  EXPECT_EQ(read_file(prefix / "share/man/man1/zibbet.1"), read_file(built_page_path));
  EXPECT_EQ(read_file(prefix / "share/bash-completion/completions/zibbet"),
            read_file(completion_path));
  // zsh's folder for a prefix other than /usr, and fish's for any.
  EXPECT_EQ(read_file(prefix / "share/zsh/site-functions/_zibbet"),
            read_file(source_dir() + "/completion/_zibbet"));
  EXPECT_EQ(read_file(prefix / "share/fish/vendor_completions.d/zibbet.fish"),
            read_file(source_dir() + "/completion/zibbet.fish"));

  run_options opts;
  opts.program = binary;
  opts.args = {"-v"};
  r = run(opts);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.substr(0, banner_line.size()), banner_line);
}

// --- The Debian package ------------------------------------------------------

// make_deb - makes the Debian package of this build into `out` with cpack
// and returns its path ("" after a failed assertion).
std::string make_deb(const temp_dir& out) {
  run_result r = run_tool(find_program("cpack"),
                          {"-G", "DEB", "-B", out.path(), "--config",
                           std::string(ZIBBET_BUILD_DIR) + "/CPackConfig.cmake"},
                          100s);
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  std::string deb;
  if (DIR* d = opendir(out.path().c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name.starts_with("zibbet_") && name.ends_with(".deb")) deb = out / name;
    }
    closedir(d);
  }
  EXPECT_NE(deb, "") << "cpack made no zibbet_*.deb";
  return deb;
}

TEST(Package, DebHoldsProgramPageAndCompletionWithMetadata) {
  if (auto why = skip_reason_under_emulation(emulation_need::package)) GTEST_SKIP() << *why;
  std::string cpack = find_program("cpack");
  std::string dpkg_deb = find_program("dpkg-deb");
  if (cpack.empty() || dpkg_deb.empty()) GTEST_SKIP() << "cpack or dpkg-deb is missing";
  temp_dir out;
  std::string deb = make_deb(out);
  ASSERT_NE(deb, "");

  run_result r = run_tool(dpkg_deb, {"-c", deb});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::set<std::string> paths;
  for (const std::string& line : lines(r.out)) paths.insert(line.substr(line.rfind(' ') + 1));
  for (const char* want :
       {"./usr/bin/zibbet", "./usr/share/bash-completion/completions/zibbet",
        "./usr/share/zsh/vendor-completions/_zibbet",
        "./usr/share/fish/vendor_completions.d/zibbet.fish", "./usr/share/doc/zibbet/copyright",
        "./usr/share/doc/zibbet/changelog.gz"})
    EXPECT_TRUE(paths.contains(want)) << want << " in\n" << r.out;
  EXPECT_TRUE(paths.contains("./usr/share/man/man1/zibbet.1.gz") ||
              paths.contains("./usr/share/man/man1/zibbet.1"))
      << r.out;
  EXPECT_NE(r.out.find("-rwxr-xr-x root/root"), std::string::npos) << r.out;

  struct {
    const char* field;
    const char* holds;
  } fields[] = {
    {"Package", "zibbet"},
    {"Version", ZIBBET_VERSION},
    {"Section", "utils"},
    {"Depends", "libc6"},
    {"Depends", "libstdc++6"},
#if ZIBBET_HAVE_LOGIND
    {"Recommends", "libsystemd0"},  // loaded to read logind sessions
#endif
    {"Recommends", "bash-completion"},  // loads the bash completion
    {"Maintainer", "@"},
    {"Description", "watch chosen users log on and off"},
  };
  for (const auto& f : fields) {
    r = run_tool(dpkg_deb, {"-f", deb, f.field});
    EXPECT_EQ(r.exit_code, 0) << f.field;
    EXPECT_NE(r.out.find(f.holds), std::string::npos) << f.field << ": " << r.out;
  }
  // libsystemd is loaded only where logind is read, so nothing needs it;
  // and no package is named for a write(1) that current hosts lack.
  r = run_tool(dpkg_deb, {"-f", deb, "Depends"});
  EXPECT_EQ(r.out.find("libsystemd"), std::string::npos) << r.out;
  r = run_tool(dpkg_deb, {"-f", deb, "Recommends"});
  EXPECT_EQ(r.out.find("bsdextrautils"), std::string::npos) << r.out;

  // What is inside works: the packaged binary runs, and the packaged page
  // is the page of the source tree.
  temp_dir root;
  r = run_tool(dpkg_deb, {"-x", deb, root.path()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  run_options opts;
  opts.program = root / "usr/bin/zibbet";
  opts.args = {"--version"};
  r = run(opts);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err.substr(0, banner_line.size()), banner_line);

  std::string gz = root / "usr/share/man/man1/zibbet.1.gz";
  std::string gzip = find_program("gzip");
  if (access(gz.c_str(), F_OK) == 0 && !gzip.empty()) {
    r = run_tool(gzip, {"-dc", gz});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, read_file(built_page_path));
  }
}

// What a Debian maintainer checks first: lintian finds no error or warning
// (nor the hardening and .comment notes it gives at info level), and the
// program carries the hardening of Debian's own packages.
TEST(Package, LintianAndHardeningCheckFindNothing) {
  if (auto why = skip_reason_under_emulation(emulation_need::package)) GTEST_SKIP() << *why;
  if (!ZIBBET_HARDENED) GTEST_SKIP() << "this build is not hardened (sanitized, fuzz or Debug)";
  std::string lintian = find_program("lintian");
  std::string hardening_check = find_program("hardening-check");
  std::string dpkg_deb = find_program("dpkg-deb");
  if (lintian.empty() || hardening_check.empty() || dpkg_deb.empty() ||
      find_program("cpack").empty())
    GTEST_SKIP() << "lintian, hardening-check (devscripts), dpkg-deb or cpack is missing";
  temp_dir out;
  std::string deb = make_deb(out);
  ASSERT_NE(deb, "");

  run_result r = run_tool(lintian, {"--display-info", deb}, 300s);
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  for (const std::string& line : lines(r.out)) {
    EXPECT_FALSE(line.starts_with("E: ") || line.starts_with("W: ")) << line;
    for (const char* tag : {"hardening-", "binary-has-unneeded-section"})
      EXPECT_EQ(line.find(tag), std::string::npos) << line;
  }

  // Control-flow marks are left out of the check: Debian 12's C start
  // files carry none, so no program linked there has them.
  temp_dir root;
  r = run_tool(dpkg_deb, {"-x", deb, root.path()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  r = run_tool(hardening_check, {"--nocfprotection", root / "usr/bin/zibbet"});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  for (const char* want :
       {"Position Independent Executable: yes", "Stack protected: yes",
        "Fortify Source functions: yes", "Read-only relocations: yes", "Immediate binding: yes"})
    EXPECT_NE(r.out.find(want), std::string::npos) << want << " in\n" << r.out;
}

// --- Bash completion -------------------------------------------------------

// complete_words - loads the completion into a non-interactive bash and
// asks its function to complete the last of `words` (words[0] is the
// command). Returns the candidates, one a line.
run_result complete_words(const std::vector<std::string>& words) {
  run_options opts;
  opts.program = find_program("bash");
  opts.args = {"--norc",
               "--noprofile",
               "-c",
               "source \"$1\" || exit 3; shift\n"
               "complete -p zibbet | grep -q -- '-F _zibbet' || exit 4\n"
               "COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); COMPREPLY=()\n"
               "_zibbet\n"
               "((${#COMPREPLY[@]} == 0)) || printf '%s\\n' \"${COMPREPLY[@]}\"\n",
               "bash",
               completion_path};
  opts.args.insert(opts.args.end(), words.begin(), words.end());
  opts.timeout = 30s;
  return run(opts);
}

std::set<std::string> as_set(const std::string& text) {
  std::vector<std::string> v = lines(text);
  return {v.begin(), v.end()};
}

TEST(Completion, CompletesOptionsFilesAndUsers) {
  if (find_program("bash").empty()) GTEST_SKIP() << "bash is not installed";
  temp_dir dir;
  dir.write_file("buddies", "alice\n");
  dir.write_file("notes", "");
  const passwd* me = getpwuid(getuid());
  ASSERT_NE(me, nullptr);
  std::string my_name = me->pw_name;

  std::set<std::string> every_option;
  for (const auto& o : long_options) {
    every_option.insert(std::string("--") + o.name);
    every_option.insert(std::string("-") + o.letter);
  }

  struct {
    std::vector<std::string> words;
    std::set<std::string> want;
  } cases[] = {
      {{"zibbet", "--st"}, {"--status-message"}},
      {{"zibbet", "--no"}, {"--no-buddyfile", "--no-newline"}},
      {{"zibbet", "--process-c"}, {"--process-current"}},
      {{"zibbet", "-"}, every_option},
      {{"zibbet", "-f", dir / "bu"}, {dir / "buddies"}},
      {{"zibbet", "--buddyfile", "=", dir / "no"}, {dir / "notes"}},  // --buddyfile=no
      {{"zibbet", "--buddyfile=" + dir / "no"}, {dir / "notes"}},
      {{"zibbet", "-m", ""}, {}},  // a template: nothing to offer
      {{"zibbet", "-o", "x"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.words.back());
    run_result r = complete_words(c.words);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(as_set(r.out), c.want);
  }

  // User names after -u, also after the commas of a list.
  std::string prefix = my_name.substr(0, std::min<std::size_t>(2, my_name.size()));
  run_result r = complete_words({"zibbet", "-u", prefix});
  EXPECT_TRUE(as_set(r.out).contains(my_name)) << r.out;
  r = complete_words({"zibbet", "--users", "alice," + prefix});
  EXPECT_TRUE(as_set(r.out).contains("alice," + my_name)) << r.out;
  for (const std::string& line : lines(r.out)) EXPECT_EQ(line.rfind("alice,", 0), 0u) << line;
}

}  // namespace
}  // namespace zibbet::test
