// driver_test.cpp - whether the first pass and later passes may greet.
#include "driver/driver.h"

#include <gtest/gtest.h>

namespace zibbet {
namespace {

TEST(PassMayGreet, FirstPassOnlyGreetsWithProcessCurrent) {
  struct {
    bool process_current;
    bool first;
    bool later;
  } cases[] = {
      {false, false, true},  // neither -p nor -o: nobody is greeted at start
      {true, true, true},    // -p (or -o): the first pass may greet too
  };
  for (const auto& c : cases) {
    options o;
    o.process_current = c.process_current;
    // -w or -q changes nothing here: who is greeted is each buddy's say.
    for (bool write : {false, true}) {
      o.write_buddies = write;
      EXPECT_EQ(pass_may_greet(o, true), c.first);
      EXPECT_EQ(pass_may_greet(o, false), c.later);
    }
  }
}

}  // namespace
}  // namespace zibbet
