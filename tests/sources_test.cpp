// sources_test.cpp - the loaders filling a buddy table: the -u list, buddy
// lines from a stream, and the buddy file with its fallbacks.
#include "buddy/sources.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "support/context.h"
#include "support/harness.h"

namespace zibbet {
namespace {

using names = std::vector<std::string>;

// held - the names in the table, sorted.
names held(buddy_table& table) {
  names out;
  for (const buddy* b : table.items()) out.push_back(b->name);
  std::sort(out.begin(), out.end());
  return out;
}

// A fixture with a known program name and own name, and a fresh table.
class Sources : public testing::Test {
 protected:
  // lines - load_buddy_lines over a stream holding `content`; returns what
  // was written on stderr.
  std::string lines(const std::string& content) {
    std::FILE* f = std::tmpfile();
    EXPECT_NE(f, nullptr);
    if (f == nullptr) return "";
    std::fwrite(content.data(), 1, content.size(), f);
    std::rewind(f);
    testing::internal::CaptureStderr();
    EXPECT_EQ(load_buddy_lines(f, table, run_.prog_name, book_), load_outcome::ok);
    std::string err = testing::internal::GetCapturedStderr();
    std::fclose(f);
    return err;
  }

  // buddyfile - load_buddyfile with the run's buddy file at `path`.
  load_outcome buddyfile(std::optional<std::string> path, buddy_table& into) {
    run_.buddyfile = std::move(path);
    return load_buddyfile(run_, "carol", into, book_);
  }
  load_outcome buddyfile(std::optional<std::string> path) {
    return buddyfile(std::move(path), table);
  }

  options run_ = test::test_options();
  notice_book book_{notice_of(run_)};
  buddy_table table;
};

TEST_F(Sources, UserListSplitsOnFiveDelimiters) {
  struct {
    std::string list;
    names expected;
  } cases[] = {
      {"alice,bob", {"alice", "bob"}},
      {"alice bob\tcarol:dave", {"alice", "bob", "carol", "dave"}},
      {"alice\nbob", {"alice", "bob"}},
      {"alice,", {"alice"}},
      {"bob,bob", {"bob"}},
      {"", {}},
      // empty tokens name nobody, and the names after them still count
      {",alice", {"alice"}},
      {"alice,,bob", {"alice", "bob"}},
      {" :,\t\n", {}},
      // names equal in their first 8 bytes, in one bucket, are one buddy
      {"abcdefgh0,abcdefgh_", {"abcdefgh0"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.list));
    buddy_table t;
    testing::internal::CaptureStderr();
    load_user_list(c.list, t, book_);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(held(t), c.expected);
    for (const buddy* b : t.items()) EXPECT_EQ(b->notice, book_.run());
  }
}

TEST_F(Sources, BuddyLinesOfEveryLength) {
  struct {
    std::string content;
    names expected;
  } cases[] = {
      {"alice\nbob\n", {"alice", "bob"}},
      {"alice\nbob", {"alice", "bob"}},
      {"", {}},
      // last lines that fill a small buffer exactly, or just miss it
      {"ab", {"ab"}},
      {"abc", {"abc"}},
      {"abcd", {"abcd"}},
      {"abcdefg", {"abcdefg"}},
      {"abcdefgh", {"abcdefgh"}},
      {"x\nabc", {"abc", "x"}},
      {"x\nabcdefg", {"abcdefg", "x"}},
      // lines around the sizes a doubling buffer goes through
      {"abc\nabcdefg\nabcdefghijklmno\n", {"abc", "abcdefg", "abcdefghijklmno"}},
      {"christopher\n", {"christopher"}},
      {"x\nchristopher\ny\n", {"christopher", "x", "y"}},
      // a NUL ends the line's text; the rest of that line is dropped, and
      // the next line is read on its own
      {std::string("bob\0junk\nalice\n", 15), {"alice", "bob"}},
      {std::string("bob\0\ncarol", 10), {"bob", "carol"}},
      {std::string("\0alice\nbob\n", 11), {"", "bob"}},
      // lines keep their blanks and carriage returns
      {"alice\r\n bob\n", {" bob", "alice\r"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.content));
    table = buddy_table{};
    EXPECT_EQ(lines(c.content), "");
    EXPECT_EQ(held(table), c.expected);
  }
}

TEST_F(Sources, DuplicateLinesAreWarnedAboutAndDropped) {
  struct {
    std::string content;
    names expected;
    std::string err;
  } cases[] = {
      {"alice\nalice\n", {"alice"}, "zibbet: warning: duplicate buddy alice\n"},
      {"\n\n", {""}, "zibbet: warning: duplicate buddy \n"},
      {"alice\nbob\nalice\nbob",
       {"alice", "bob"},
       "zibbet: warning: duplicate buddy alice\nzibbet: warning: duplicate buddy bob\n"},
      // equal over 8 bytes: the new buddy's own name is the one warned
      {"abcdefgh0\nabcdefgh_\n", {"abcdefgh0"}, "zibbet: warning: duplicate buddy abcdefgh_\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.content));
    table = buddy_table{};
    EXPECT_EQ(lines(c.content), c.err);
    EXPECT_EQ(held(table), c.expected);
  }
}

TEST_F(Sources, TheFirstOfTwoEqualBuddiesStays) {
  EXPECT_EQ(lines("alice\nalice: -w\n"), "zibbet: warning: duplicate buddy alice\n");
  ASSERT_EQ(held(table), names{"alice"});
  EXPECT_EQ(table.find("alice")->notice, book_.run());
}

TEST_F(Sources, UserListNamesAreFoundByTheBuddyFile) {
  load_user_list("alice,bob", table, book_);
  EXPECT_EQ(lines("bob\ndave\n"), "zibbet: warning: duplicate buddy bob\n");
  EXPECT_EQ(held(table), (names{"alice", "bob", "dave"}));
}

TEST_F(Sources, AHundredThousandByteLineWithOptionTextLoads) {
  std::string message(100000, 'm');
  std::string content = "alice: -w -m " + message + " -s '%b here'\nbob\n";
  // Loaded on another thread so that a blocked load fails the test
  // instead of hanging it.
  auto done = std::async(std::launch::async, [&] { return lines(content); });
  ASSERT_EQ(done.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(done.get(), "");
  ASSERT_EQ(held(table), (names{"alice", "bob"}));
  const buddy* alice = table.find("alice");
  ASSERT_NE(alice->notice, book_.run());
  EXPECT_EQ(alice->notice->message, message);
  EXPECT_EQ(alice->notice->status_message, "%b here");
  EXPECT_TRUE(alice->notice->may_greet);
}

TEST_F(Sources, AStreamThatCannotBeReadEndsQuietly) {
  test::temp_dir dir;
  std::FILE* f = std::fopen(dir.path().c_str(), "r");  // reads fail: EISDIR
  ASSERT_NE(f, nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(load_buddy_lines(f, table, run_.prog_name, book_), load_outcome::ok);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  std::fclose(f);
  EXPECT_EQ(table.size(), 0U);
}

// open_fds - the number of open descriptors of this process.
int open_fds() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
  }
  return n;
}

TEST_F(Sources, BuddyFileIsReadAndClosed) {
  test::temp_dir dir;
  std::string path = dir.write_file("buddies", "alice\nbob: -w\nalice\n");
  int before = open_fds();
  testing::internal::CaptureStderr();
  EXPECT_EQ(buddyfile(path), load_outcome::ok);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "zibbet: warning: duplicate buddy alice\n");
  EXPECT_EQ(open_fds(), before);
  EXPECT_EQ(held(table), (names{"alice", "bob"}));
  EXPECT_TRUE(table.find("bob")->notice->may_greet);
}

TEST_F(Sources, BuddyFilePathsOtherThanADashAreFiles) {
  test::temp_dir dir;
  dir.write_file("-x", "alice\n");
  dir.write_file("--", "bob\n");
  char* cwd = getcwd(nullptr, 0);
  ASSERT_NE(cwd, nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(buddyfile("-x"), load_outcome::ok);
  EXPECT_EQ(buddyfile("--"), load_outcome::ok);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(chdir(cwd), 0);
  std::free(cwd);
  EXPECT_EQ(err, "");
  EXPECT_EQ(held(table), (names{"alice", "bob"}));
}

TEST_F(Sources, UnopenableBuddyFileFallsBackToTheOwnName) {
  test::temp_dir dir;
  struct {
    std::optional<std::string> path;
    std::string first_message;
  } cases[] = {
      {dir / "missing", "unable to open " + (dir / "missing") + "! (No such file or directory)\n"},
      {dir.path(), "unable to open " + dir.path() + "! (Is a directory)\n"},
      {dir / "missing/x",
       "unable to open " + (dir / "missing/x") + "! (No such file or directory)\n"},
      {std::nullopt,
       "unable to open ~/.zibbet! (HOME is not set and there is no home directory)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first_message);
    buddy_table t;
    testing::internal::CaptureStderr();
    EXPECT_EQ(buddyfile(c.path, t), load_outcome::ok);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              c.first_message + "defaulting to just watching yourself...\n");
    EXPECT_EQ(held(t), names{"carol"});
  }
}

TEST_F(Sources, OwnNameFallbackAddsNoSecondBuddyAndNoWarning) {
  test::temp_dir dir;
  load_user_list("carol,alice", table, book_);
  testing::internal::CaptureStderr();
  EXPECT_EQ(buddyfile(dir / "missing"), load_outcome::ok);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "unable to open " + (dir / "missing") +
                "! (No such file or directory)\ndefaulting to just watching yourself...\n");
  EXPECT_EQ(held(table), (names{"alice", "carol"}));
}

TEST_F(Sources, NoBuddyfileReadsNothing) {
  run_.no_buddyfile = true;
  test::temp_dir dir;
  std::string path = dir.write_file("buddies", "alice\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(buddyfile(path), load_outcome::ok);
  EXPECT_EQ(buddyfile(dir / "missing"), load_outcome::ok);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(table.size(), 0U);
}

TEST_F(Sources, AFifoWithoutAWriterReadsAsEmpty) {
  test::temp_dir dir;
  std::string fifo = dir / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  auto done = std::async(std::launch::async, [&] {
    testing::internal::CaptureStderr();
    load_outcome r = buddyfile(fifo);
    return std::make_pair(r, testing::internal::GetCapturedStderr());
  });
  if (done.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    // A writer that comes and goes lets a blocked load finish.
    int w = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (w >= 0) close(w);
    FAIL() << "loading a FIFO without a writer blocked";
  }
  auto [r, err] = done.get();
  EXPECT_EQ(r, load_outcome::ok);
  EXPECT_EQ(err, "");
  EXPECT_EQ(table.size(), 0U);
}

}  // namespace
}  // namespace zibbet
