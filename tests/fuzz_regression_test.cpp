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
  global_settings.prog_name = "zibbet";
  struct {
    std::string file;
    buddy_line_error error;
    std::size_t held;
  } cases[] = {
      {"alice\nbob:-w\ncarol", buddy_line_error::none, 3},
      {"alice\nbob:-m \"hi\ncarol\n", buddy_line_error::quoting, 1},
      {"alice\nalice\nbob:-h\ncarol\n", buddy_line_error::help, 1},
      {"alice\nbob: -w -v\ncarol\n", buddy_line_error::version, 1},
      {"bob:-x\\", buddy_line_error::quoting, 0},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.file);
    std::FILE* in = fmemopen(c.file.data(), c.file.size(), "r");
    ASSERT_NE(in, nullptr);
    buddy_table table;
    testing::internal::CaptureStderr();
    EXPECT_EQ(try_load_buddy_lines(in, table), c.error);
    (void)testing::internal::GetCapturedStderr();
    std::fclose(in);
    EXPECT_EQ(table.items().size(), c.held);
  }
}

}  // namespace
}  // namespace zibbet
