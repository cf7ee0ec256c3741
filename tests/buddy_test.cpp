// buddy_test.cpp - buddies made from buddy lines: the name, the override
// record, and the reasons a line makes no buddy.
#include "buddy/buddy.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/context.h"
#include "support/harness.h"
#include "support/platform.h"

namespace zibbet {
namespace {

// A fixture with the command line's settings holding values that an
// override record must not take over.
class BuddyLine : public testing::Test {
 protected:
  void SetUp() override {
    run_.write_buddies = true;
    run_.exec_command = "echo global";
    run_.message = "global greeting";
  }

  // parse - the buddy line as the run reads it.
  parsed_buddy parse(std::string_view line) {
    return parse_buddy_line(line, run_.prog_name, book_);
  }

  options run_ = test::test_options();
  notice_book book_{notice_of(run_)};
};

// What a line should make: the name and, when it has option text, the
// four override fields that notification reads.
struct expected_overrides {
  bool write_buddies = false;
  std::string message = default_message;
  std::string status_message = default_status_message;
  std::optional<std::string> exec_command;
};

// ov - the expected override fields; the rest at their defaults.
expected_overrides ov(bool write_buddies = false, std::string message = default_message,
                      std::string status_message = default_status_message,
                      std::optional<std::string> exec_command = std::nullopt) {
  return {write_buddies, std::move(message), std::move(status_message), std::move(exec_command)};
}

TEST_F(BuddyLine, NameAndOverrides) {
  struct {
    std::string line;
    std::string name;
    std::optional<expected_overrides> overrides;
  } cases[] = {
      {"bob", "bob", std::nullopt},
      {"bob\n", "bob", std::nullopt},
      // a colon that is the last byte stays in the name
      {"bob:", "bob:", std::nullopt},
      // the colon test comes first: the newline alone is option text
      {"bob:\n", "bob", ov()},
      {"bob: -w -m 'hi %b'\n", "bob", ov(true, "hi %b")},
      {"bob:-s '%b is here' -c 'echo %b'\n", "bob",
       ov(false, default_message, "%b is here", "echo %b")},
      {":-w\n", "", ov(true)},
      // the first colon splits; later ones belong to the option text
      {"bob:x:y\n", "bob", ov()},
      {"bob::-w\n", "bob", ov()},
      // empty lines are empty names
      {"\n", "", std::nullopt},
      {"", "", std::nullopt},
      // blanks and a carriage return are part of the name
      {"bob :-w\n", "bob ", ov(true)},
      {" bob \n", " bob ", std::nullopt},
      {"bob\r\n", "bob\r", std::nullopt},
      {"bob\n\n", "bob\n", std::nullopt},
      // a NUL ends the line
      {std::string("bob\0:-w\n", 8), "bob", std::nullopt},
      {std::string("bob: -w\0 -c x\n", 14), "bob", ov(true)},
      // an option word the scanner refuses is skipped
      {"bob: -x -w\n", "bob", ov(true)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.line));
    testing::internal::CaptureStderr();
    parsed_buddy parsed = parse(c.line);
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(parsed.made.has_value());
    EXPECT_EQ(parsed.outcome, load_outcome::ok);
    const std::optional<buddy>& b = parsed.made;
    EXPECT_EQ(b->name, c.name);
    EXPECT_EQ(err, c.line.find("-x") == std::string::npos
                       ? ""
                       : test::invalid_option(test::scanner_name("zibbet"), 'x'));
    ASSERT_NE(b->notice, nullptr);
    ASSERT_EQ(b->notice != book_.run(), c.overrides.has_value());
    if (!c.overrides) continue;
    EXPECT_EQ(b->notice->may_greet, c.overrides->write_buddies);
    EXPECT_EQ(b->notice->message, c.overrides->message);
    EXPECT_EQ(b->notice->status_message, c.overrides->status_message);
    EXPECT_EQ(b->notice->exec_command, c.overrides->exec_command);
  }
  // The run's record is not touched by a buddy's options.
  EXPECT_EQ(run_.prog_name, "zibbet");
  EXPECT_TRUE(run_.write_buddies);
  EXPECT_EQ(run_.message, "global greeting");
  // A buddy without words has the run's notice, made once from the run's
  // options when they were read.
  EXPECT_EQ(book_.run()->message, default_message);
}

TEST_F(BuddyLine, LinesThatMakeNoBuddy) {
  struct {
    std::string line;
    load_outcome error;
    std::string err;
  } cases[] = {
      {"bob: -m \"hi\n", load_outcome::quoting, "error: unterminated \"\n"},
      {"bob: -m 'hi\n", load_outcome::quoting, "error: unterminated '\n"},
      {"bob: x\\", load_outcome::quoting, "syntax err: unterminated \\\n"},
      {"bob: -v\n", load_outcome::version, ""},
      {"bob: -w -v -h\n", load_outcome::version, ""},
      {"bob: --help\n", load_outcome::help, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.line));
    testing::internal::CaptureStderr();
    parsed_buddy parsed = parse(c.line);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(parsed.made.has_value());
    EXPECT_EQ(parsed.outcome, c.error);
    EXPECT_EQ(err, c.err);
  }
}

TEST_F(BuddyLine, LongLinesAreLinesLikeAnyOther) {
  // Far beyond 16-bit lengths and colon positions.
  std::string name(40000, 'n');
  std::string message(70000, 'm');
  std::optional<buddy> b = parse(name + ": -w -m " + message + "\n").made;
  ASSERT_TRUE(b.has_value());
  EXPECT_EQ(b->name, name);
  ASSERT_NE(b->notice, book_.run());
  EXPECT_TRUE(b->notice->may_greet);
  EXPECT_EQ(b->notice->message, message);

  b = parse(name + "\n").made;
  ASSERT_TRUE(b.has_value());
  EXPECT_EQ(b->name, name);
  EXPECT_EQ(b->notice, book_.run());
}

TEST_F(BuddyLine, EveryBuddyStartsWithAnEmptyPresenceTable) {
  std::optional<buddy> b = parse("bob\n").made;
  ASSERT_TRUE(b.has_value());
  EXPECT_EQ(b->presences, nullptr);  // a buddy without logins holds no table
  presence_table& p = presences_of(*b);
  EXPECT_EQ(p.size(), 0U);
  EXPECT_EQ(&presences_of(*b), &p);  // made once, then kept
}

TEST(BuddyFile, MalformedQuotingEndsTheProgram) {
  if (auto why = test::skip_reason_under_emulation(test::emulation_need::program_start))
    GTEST_SKIP() << *why;
  test::run_result r = test::run_zibbet({"-o", "-f", "-"}, {}, "bob: -m \"hi\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "error: unterminated \"\nzibbet: bailing: error parsing config file\n\n");
  EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace zibbet
