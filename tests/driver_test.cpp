// driver_test.cpp - the greet_mode of the first and of later passes.
#include "driver/driver.h"

#include <gtest/gtest.h>

namespace zibbet {
namespace {

TEST(GreetMode, FirstPassOnlyGreetsWithProcessCurrent) {
  struct {
    std::int16_t write_buddies;
    std::int16_t process_current;
    std::int16_t first;
    std::int16_t later;
  } cases[] = {
      {0, 0, -1, 0},  // neither -p nor -o: nobody is greeted at start
      {1, 0, -1, 1},  // -w alone: greeting starts with the second pass
      {0, 1, 0, 0},   // -p without -w
      {1, 1, 1, 1},   // -p -w (or -o -w)
  };
  for (const auto& c : cases) {
    settings s;
    s.write_buddies = c.write_buddies;
    s.process_current = c.process_current;
    EXPECT_EQ(greet_mode_for(s, true), c.first);
    EXPECT_EQ(greet_mode_for(s, false), c.later);
  }
}

}  // namespace
}  // namespace zibbet
