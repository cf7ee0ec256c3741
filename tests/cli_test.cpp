// cli_test.cpp - the real binary's help, version, refusal and scanner
// diagnostics, byte for byte.
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/context.h"
#include "support/harness.h"
#include "support/platform.h"

namespace zibbet::test {
namespace {

const std::string banner = version_banner();

const std::string usage =
    "\nusage:\tzibbet [OPTIONS] ...\n"
    "  -h, --help                   this informative usage summary :)\n"
    "  -v, --version                the current version and copyright\n"
    "\n"
    "  -a, --all-users              load and watch for all users\n"
    "  -c, --exec-cmd=CMD           evaluate/execute CMD with every login\n"
    "  -f, --buddyfile=FILE         use FILE as buddyfile, can be '-' for\n"
    "                               signifying to use stdin.\n"
    "  -F, --no-buddyfile           do not attempt to load the file which\n"
    "                               contains the list of buddies to watch\n"
    "  -i, --interval=NUM           sleep NUM seconds between each polling\n"
    "  -m, --message=STRING         use STRING as a message template to greet\n"
    "                               logged-in buddies. RTFM for more information\n"
    "  -n, --no-newline             don't end the various messages in newlines\n"
    "  -o, --process-once           exit after having scanned once through the\n"
    "                               records.\n"
    "  -p, --process-current        override zibbet's default behavior and\n"
    "                               message/write/exec-cmd the users already\n"
    "                               logged in.\n"
    "  -q, --silent                 don't message buddies when they log in\n"
    "  -s, --status-message=STRING  use STRING as a template for displaying the\n"
    "                               status of people logging in and out\n"
    "  -u, --users=LIST             adds LIST to the list of buddies for which\n"
    "                               to watch.\n"
    "  -w, --write-budies           be obnoxious and write your buddy every time\n"
    "                               you see him/her log in.\n";

const std::string refusal =
    "zibbet: no buddies specified\n"
    "well, if you don't have any friends for\n"
    "me to watch, I'm going away!\n";

TEST(Cli, HelpAndVersionTextsOnStderrExitZero) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"-h"}, banner + usage},
      {{"--help"}, banner + usage},
      {{"-v"}, banner},
      {{"--vers"}, banner},
      {{"-v", "-w"}, banner},  // words after -v are not looked at
      {{"-w", "-h"}, banner + usage},
      {{"-F", "-x", "-v"}, invalid_option("zibbet", 'x') + banner},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    run_result r = run_zibbet(c.args);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
  }
}

TEST(Cli, ProgramNameIsTheFinalPathComponentOfArgvZero) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  temp_dir dir;
  std::string link = dir / "watcher";
  ASSERT_EQ(symlink(zibbet_binary().c_str(), link.c_str()), 0);
  run_options opts;
  opts.program = link;
  opts.args = {"-v"};
  run_result r = run(opts);
  EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), test::banner("watcher"));
}

TEST(Cli, RefusesToRunWithoutBuddies) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  run_result r = run_zibbet({"-F"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, refusal);
}

TEST(Cli, ScannerComplaintsChangeNothingAndTheRunGoesOn) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  struct {
    std::vector<std::string> args;
    std::string diagnostic;
  } cases[] = {
      {{"-F", "-x"}, invalid_option("zibbet", 'x')},
      {{"-F", "--bogus"}, unrecognized_option("zibbet", "--bogus")},
      {{"-F", "-i"}, missing_argument("zibbet", 'i')},
      {{"-F", "--no"}, ambiguous_option("zibbet", "--no", "'--no-buddyfile' '--no-newline'")},
      {{"-F", "--s"}, ambiguous_option("zibbet", "--s", "'--silent' '--status-message'")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1]);
    run_result r = run_zibbet(c.args);
    EXPECT_EQ(r.exit_code, 1);  // the refusal: no buddies
    EXPECT_EQ(r.err, c.diagnostic + refusal);
  }
}

TEST(Cli, BadIntervalWarnsAndUsesOne) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  for (std::string value : {"-3", "2147483648", "99999999999999999999"}) {
    SCOPED_TRACE(value);
    run_result r = run_zibbet({"-F", "-i", value});
    EXPECT_EQ(r.err, "zibbet: warning: bad interval " + value + ", using 1\n" + refusal);
  }
}

}  // namespace
}  // namespace zibbet::test
