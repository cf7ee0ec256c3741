// table_marks_test.cpp - marked items: a subset of a table that is walked
// in the table's own snapshot order, through inserts and removals.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "table/keyed_table.h"

namespace zibbet {
namespace {

std::string_view string_key(const std::string& s) {
  return s;
}
using string_table = keyed_table<std::string, string_key>;

class Marks : public testing::Test {
 protected:
  string_table table;

  // expected - the full snapshot with the unmarked items left out.
  std::vector<std::string*> expected(const std::set<std::string>& marked) {
    std::vector<std::string*> out;
    for (std::string* p : table.items())
      if (marked.count(*p) != 0) out.push_back(p);
    return out;
  }
  std::vector<std::string*> walked_marks() {
    std::vector<std::string*> out;
    table.for_each_marked([&out](std::string& p) { out.push_back(&p); });
    return out;
  }
};

TEST_F(Marks, MarkedItemsKeepSnapshotOrderThroughChanges) {
  std::vector<std::string> keys;
  for (int i = 0; i < 600; ++i) keys.push_back("k" + std::to_string(i * 7919 % 1009));
  std::set<std::string> marked;
  for (const std::string& k : keys) ASSERT_NE(table.insert(k), nullptr);
  // Marks in an order unrelated to buckets or insertion.
  for (std::size_t i = 0; i < keys.size(); i += 3) {
    std::size_t j = (i * 37) % keys.size();
    ASSERT_TRUE(table.mark(keys[j]));
    marked.insert(keys[j]);
  }
  EXPECT_EQ(table.marked_items(), expected(marked));

  // Remove most items, marked or not.
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (i % 5 == 0) continue;
    EXPECT_TRUE(table.erase(keys[i]));
    marked.erase(keys[i]);
    if (i % 97 == 0) {
      EXPECT_EQ(table.marked_items(), expected(marked)) << i;
    }
  }
  EXPECT_EQ(table.marked_items(), expected(marked));

  // Unmark some, put removed keys back (they come back unmarked), mark them.
  for (std::size_t i = 0; i < keys.size(); i += 10) {
    table.unmark(keys[i]);
    marked.erase(keys[i]);
  }
  for (std::size_t i = 1; i < keys.size(); i += 4)
    if (i % 5 != 0) {
      ASSERT_NE(table.insert(keys[i]), nullptr) << keys[i];
    }
  EXPECT_EQ(table.marked_items(), expected(marked));
  for (std::size_t i = 1; i < keys.size(); i += 8) {
    ASSERT_TRUE(table.mark(keys[i]));
    marked.insert(keys[i]);
  }
  EXPECT_EQ(table.marked_items(), expected(marked));
  EXPECT_EQ(walked_marks(), expected(marked));
  for (const std::string& k : keys) {
    const std::string* held = table.find(k);
    if (held != nullptr) {
      EXPECT_EQ(*held, k);
    }
  }
}

TEST_F(Marks, MarksFollowTheTablesEquality) {
  std::string* a = table.insert("abcdefgh0");
  std::string* b = table.insert("bob");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  using items = std::vector<std::string*>;
  EXPECT_FALSE(table.mark("ann"));        // not held
  EXPECT_FALSE(table.mark("abcdefgh1"));  // same 8 bytes, another bucket
  EXPECT_TRUE(table.marked_items().empty());
  EXPECT_TRUE(table.mark("abcdefgh_"));  // same 8 bytes and bucket: a
  EXPECT_TRUE(table.mark("abcdefgh0"));  // twice is once
  EXPECT_EQ(table.marked_items(), items{a});
  table.unmark("bob");  // not marked: nothing changes
  EXPECT_EQ(table.marked_items(), items{a});

  // A removed item takes its mark with it; put back, it is unmarked.
  EXPECT_TRUE(table.erase("abcdefgh0"));
  EXPECT_TRUE(table.marked_items().empty());
  a = table.insert("abcdefgh0");
  ASSERT_NE(a, nullptr);
  EXPECT_TRUE(table.marked_items().empty());

  // An emptied table has no marks and takes new ones.
  EXPECT_TRUE(table.mark("bob"));
  EXPECT_TRUE(table.erase("bob"));
  EXPECT_TRUE(table.erase("abcdefgh0"));
  EXPECT_TRUE(table.marked_items().empty());
  b = table.insert("bob");
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(table.mark("bob"));
  EXPECT_EQ(table.marked_items(), items{b});
}

}  // namespace
}  // namespace zibbet
