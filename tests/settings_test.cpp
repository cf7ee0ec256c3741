// settings_test.cpp - the option parser: defaults, every option, last
// occurrence wins, long names and prefixes, and the -i conversion.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "buddy/options.h"
#include "support/platform.h"

namespace zibbet {
namespace {

// Parses `words` (after an argv[0] of "/usr/bin/zibbet") into a record.
options parse(std::vector<std::string> words, parse_outcome* outcome = nullptr) {
  words.insert(words.begin(), "/usr/bin/zibbet");
  arg_vector args(std::move(words));
  options s;
  testing::internal::CaptureStderr();
  parse_outcome o = parse_options(args.argc(), args.argv(), s);
  testing::internal::GetCapturedStderr();
  if (outcome != nullptr) *outcome = o;
  return s;
}

class Settings : public testing::Test {
 protected:
  void SetUp() override {
    if (const char* home = std::getenv("HOME")) saved_home_ = home;
    setenv("HOME", "/home/tester", 1);
  }
  void TearDown() override {
    if (saved_home_)
      setenv("HOME", saved_home_->c_str(), 1);
    else
      unsetenv("HOME");
  }
  std::optional<std::string> saved_home_;
};

TEST_F(Settings, DefaultsWithoutOptions) {
  options s = parse({});
  EXPECT_EQ(s.prog_name, "zibbet");
  EXPECT_EQ(s.buddyfile, "/home/tester/.zibbet");
  EXPECT_EQ(s.message, "(zibbet)  %u says: \"shoutout to my homie %b.\"");
  EXPECT_EQ(s.status_message, "(%d)  %b %o %l from %h");
  EXPECT_EQ(s.write_buddies, 0);
  EXPECT_EQ(s.interval, 1U);
  EXPECT_EQ(s.no_newline, 0);
  EXPECT_FALSE(s.exec_command);
  EXPECT_EQ(s.process_once, 0);
  EXPECT_EQ(s.process_current, 0);
  EXPECT_EQ(s.no_buddyfile, 0);
  EXPECT_FALSE(s.users);
  EXPECT_EQ(s.all_users, 0);
}

TEST_F(Settings, EachOptionAndItsLongForm) {
  using check = std::function<void(const options&)>;
  struct {
    std::vector<std::string> words;
    check expect;
  } cases[] = {
      {{"-a"}, [](const options& s) { EXPECT_EQ(s.all_users, 1); }},
      {{"--all-users"}, [](const options& s) { EXPECT_EQ(s.all_users, 1); }},
      {{"-c", "echo %b"}, [](const options& s) { EXPECT_EQ(s.exec_command, "echo %b"); }},
      {{"--exec-command=echo"}, [](const options& s) { EXPECT_EQ(s.exec_command, "echo"); }},
      {{"--exec", "x"}, [](const options& s) { EXPECT_EQ(s.exec_command, "x"); }},
      {{"-f", "/tmp/b"}, [](const options& s) { EXPECT_EQ(s.buddyfile, "/tmp/b"); }},
      {{"--buddyfile", "b"}, [](const options& s) { EXPECT_EQ(s.buddyfile, "b"); }},
      {{"-m", "hi"}, [](const options& s) { EXPECT_EQ(s.message, "hi"); }},
      {{"--message="}, [](const options& s) { EXPECT_EQ(s.message, ""); }},
      {{"-m", ""}, [](const options& s) { EXPECT_EQ(s.message, ""); }},
      {{"-n"}, [](const options& s) { EXPECT_EQ(s.no_newline, 1); }},
      {{"--no-newline"}, [](const options& s) { EXPECT_EQ(s.no_newline, 1); }},
      {{"-s", "%b"}, [](const options& s) { EXPECT_EQ(s.status_message, "%b"); }},
      {{"--status=%b"}, [](const options& s) { EXPECT_EQ(s.status_message, "%b"); }},
      {{"-u", "a,b"}, [](const options& s) { EXPECT_EQ(s.users, "a,b"); }},
      {{"--users=a"}, [](const options& s) { EXPECT_EQ(s.users, "a"); }},
      {{"-w"}, [](const options& s) { EXPECT_EQ(s.write_buddies, 1); }},
      {{"--write-buddies"}, [](const options& s) { EXPECT_EQ(s.write_buddies, 1); }},
      {{"-w", "-q"}, [](const options& s) { EXPECT_EQ(s.write_buddies, 0); }},
      {{"-q", "-w"}, [](const options& s) { EXPECT_EQ(s.write_buddies, 1); }},
      {{"--silent"}, [](const options& s) { EXPECT_EQ(s.write_buddies, 0); }},
      {{"-f", "one", "-f", "two"}, [](const options& s) { EXPECT_EQ(s.buddyfile, "two"); }},
      {{"-m", "one", "--message", "two"}, [](const options& s) { EXPECT_EQ(s.message, "two"); }},
      // Words that are not options are moved aside and change nothing.
      {{"alice", "-w", "bob"}, [](const options& s) { EXPECT_EQ(s.write_buddies, 1); }},
      // "--" ends the options.
      {{"--", "-w"}, [](const options& s) { EXPECT_EQ(s.write_buddies, 0); }},
      // Grouped letters and an attached argument.
      {{"-wni5"},
       [](const options& s) {
         EXPECT_EQ(s.write_buddies, 1);
         EXPECT_EQ(s.no_newline, 1);
         EXPECT_EQ(s.interval, 5U);
       }},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.words));
    c.expect(parse(c.words));
  }
}

TEST_F(Settings, OnceImpliesCurrentButNotTheOtherWay) {
  options once = parse({"-o"});
  EXPECT_EQ(once.process_once, 1);
  EXPECT_EQ(once.process_current, 1);
  options current = parse({"--process-current"});
  EXPECT_EQ(current.process_once, 0);
  EXPECT_EQ(current.process_current, 1);
}

TEST_F(Settings, BuddyFilePathAndHome) {
  EXPECT_EQ(parse({"-F"}).buddyfile, std::nullopt);
  EXPECT_EQ(parse({"-F"}).no_buddyfile, 1);
  EXPECT_EQ(parse({"-f", "-"}).buddyfile, "-");
  options both = parse({"-f", "x", "-F"});
  EXPECT_EQ(both.buddyfile, "x");
  EXPECT_EQ(both.no_buddyfile, 1);

  setenv("HOME", "/home/t/", 1);  // nothing is done to HOME
  EXPECT_EQ(parse({}).buddyfile, "/home/t//.zibbet");
  setenv("HOME", "", 1);
  EXPECT_EQ(parse({}).buddyfile, "/.zibbet");
}

TEST_F(Settings, IntervalConvertsLikeAtoi) {
  struct {
    std::string arg;
    std::uint32_t interval;
  } cases[] = {
      {"5", 5},
      {"0", 1},
      {"abc", 1},
      {"", 1},
      {"7s", 7},
      {"  12", 12},
      {"+3", 3},
      {"\t9x", 9},
      {"-0", 1},
      {"2147483647", 2147483647U},
      {"-1", 1},
      {"2147483648", 1},
      {"-99999999999999999999", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arg);
    EXPECT_EQ(parse({"-i", c.arg}).interval, c.interval);
    EXPECT_EQ(parse({"--interval=" + c.arg}).interval, c.interval);
  }
}

TEST_F(Settings, IntervalOutOfRangeIsFlagged) {
  struct {
    const char* text;
    bool bad;
  } cases[] = {{"10", false}, {"-1", true}, {"4294967297", true}, {"x", false}, {"-0", false}};
  for (const auto& c : cases) {
    bool bad = false;
    (void)convert_interval(c.text, bad);
    EXPECT_EQ(bad, c.bad) << c.text;
  }
}

TEST_F(Settings, LongNamesByPrefix) {
  EXPECT_EQ(parse({"--int=4"}).interval, 4U);
  EXPECT_EQ(parse({"--int", "6"}).interval, 6U);
  EXPECT_EQ(parse({"--proc"}).process_current, 0);  // ambiguous: once, current
  EXPECT_EQ(parse({"--process-o"}).process_once, 1);
  // "no" and "s" fit two long names each: reported, and nothing changes.
  options no = parse({"--no"});
  EXPECT_EQ(no.no_newline, 0);
  EXPECT_EQ(no.no_buddyfile, 0);
  EXPECT_EQ(parse({"--s", "x"}).status_message, "(%d)  %b %o %l from %h");
  // The usage text's spellings are not long names the scanner knows.
  EXPECT_EQ(parse({"--exec-cmd=x"}).exec_command, std::nullopt);
  EXPECT_EQ(parse({"--write-budies"}).write_buddies, 0);
}

TEST_F(Settings, HelpAndVersionStopTheScan) {
  struct {
    std::vector<std::string> words;
    parse_outcome outcome;
  } cases[] = {
      {{"-h"}, parse_outcome::help},           {{"--he"}, parse_outcome::help},
      {{"-v"}, parse_outcome::version},        {{"-w", "--version"}, parse_outcome::version},
      {{"-wv", "-h"}, parse_outcome::version}, {{"-w"}, parse_outcome::ok},
  };
  for (const auto& c : cases) {
    parse_outcome o = parse_outcome::ok;
    (void)parse(c.words, &o);
    EXPECT_EQ(o, c.outcome) << testing::PrintToString(c.words);
  }
}

TEST_F(Settings, ScannerDiagnosticsGoToStderrAndChangeNothing) {
  arg_vector args({"zibbet", "-x", "-i", "3", "--bogus", "-m"});
  options s;
  testing::internal::CaptureStderr();
  EXPECT_EQ(parse_options(args.argc(), args.argv(), s), parse_outcome::ok);
  std::string err = testing::internal::GetCapturedStderr();
  const std::string prog = test::scanner_name("zibbet");
  EXPECT_EQ(err, test::invalid_option(prog, 'x') + test::unrecognized_option(prog, "--bogus") +
                     test::missing_argument(prog, 'm'));
  EXPECT_EQ(s.interval, 3U);
  EXPECT_EQ(s.message, default_message);
}

TEST_F(Settings, ARecordIsClearedBeforeItIsFilled) {
  options s = parse({"-w", "-c", "x", "-u", "a"});
  arg_vector again({"zibbet", "-s", "%b"});
  ASSERT_EQ(parse_options(again.argc(), again.argv(), s), parse_outcome::ok);
  EXPECT_EQ(s.write_buddies, 0);
  EXPECT_FALSE(s.exec_command);
  EXPECT_FALSE(s.users);
  EXPECT_EQ(s.status_message, "%b");
  EXPECT_EQ(s.message, default_message);
}

TEST_F(Settings, ReparsingTheSameVectorKeepsTheProgramName) {
  // After a parse argv[0] points into the record's prog_name; a second
  // parse of the same vector must read it before clearing the record.
  arg_vector cmd({"/opt/some-directory/a-rather-long-program-name", "-w"});
  options s;
  ASSERT_EQ(parse_options(cmd.argc(), cmd.argv(), s), parse_outcome::ok);
  ASSERT_EQ(parse_options(cmd.argc(), cmd.argv(), s), parse_outcome::ok);
  EXPECT_EQ(s.prog_name, "a-rather-long-program-name");
  EXPECT_EQ(s.write_buddies, 1);
}

TEST(Basename, AsPosixComputesIt) {
  struct {
    const char* path;
    const char* base;
  } cases[] = {
      {"zibbet", "zibbet"},
      {"/usr/bin/zibbet", "zibbet"},
      {"bin/zibbet/", "zibbet"},
      {"/", "/"},
      {"///", "/"},
      {"", "."},
      {"a//b//", "b"},
  };
  for (const auto& c : cases) EXPECT_EQ(posix_basename(c.path), c.base) << c.path;
}

}  // namespace
}  // namespace zibbet
