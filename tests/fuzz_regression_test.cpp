// fuzz_regression_test.cpp - what the fuzz targets lean on, and the inputs
// they found faults with, kept as plain tests.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "buddy/sources.h"

namespace zibbet {
namespace {

// The loader the buddy-file target drives: it stops at the first line it
// cannot use, says why, keeps the buddies before it and never exits.
TEST(FuzzSeams, BuddyLinesWithoutExits) {
  struct {
    std::string file;
    load_outcome error;
    std::size_t held;
  } cases[] = {
      {"alice\nbob:-w\ncarol", load_outcome::ok, 3},
      {"alice\nbob:-m \"hi\ncarol\n", load_outcome::quoting, 1},
      {"alice\nalice\nbob:-h\ncarol\n", load_outcome::help, 1},
      {"alice\nbob: -w -v\ncarol\n", load_outcome::version, 1},
      {"bob:-x\\", load_outcome::quoting, 0},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.file);
    std::FILE* in = fmemopen(c.file.data(), c.file.size(), "r");
    ASSERT_NE(in, nullptr);
    buddy_table table;
    notice_book book{buddy_notice{}};
    testing::internal::CaptureStderr();
    EXPECT_EQ(load_buddy_lines(in, table, "zibbet", book), c.error);
    (void)testing::internal::GetCapturedStderr();
    std::fclose(in);
    EXPECT_EQ(table.items().size(), c.held);
  }
}

}  // namespace
}  // namespace zibbet
