// table_marks_test.cpp - marked items: a subset of a table that is walked
// in the table's own snapshot order, through inserts, removals (and the
// compaction they lead to), for the plain walk and the indexed scheme.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "table/hash_table.h"
#include "table/key_schemes.h"

namespace zibbet {
namespace {

std::string_view string_key(const void* item) { return *static_cast<const std::string*>(item); }
const ht_scheme walked = {string_hash, key_compare, string_key, 0};
const ht_scheme indexed = {string_hash, key_compare, string_key, 8};

class Marks : public testing::TestWithParam<const ht_scheme*> {
 protected:
  hash_table table = ht_create(table_buckets, *GetParam());

  // expected - the full snapshot with the unmarked items left out.
  item_list expected(const std::set<void*>& marked) const {
    item_list out;
    for (void* p : ht_items(table))
      if (marked.count(p) != 0) out.push_back(p);
    return out;
  }
  item_list walked_marks() const {
    item_list out;
    ht_for_each_marked(table, [&out](void* p) { out.push_back(p); });
    return out;
  }
};

TEST_P(Marks, MarkedItemsKeepSnapshotOrderThroughChanges) {
  std::vector<std::string> keys;
  for (int i = 0; i < 600; ++i) keys.push_back("k" + std::to_string(i * 7919 % 1009));
  std::set<void*> marked;
  for (std::string& k : keys) ASSERT_TRUE(ht_insert(&k, table));
  // Marks in an order unrelated to buckets or insertion.
  for (std::size_t i = 0; i < keys.size(); i += 3) {
    std::size_t j = (i * 37) % keys.size();
    ASSERT_TRUE(ht_mark(keys[j], table));
    marked.insert(&keys[j]);
  }
  EXPECT_EQ(ht_marked_items(table), expected(marked));

  // Remove most items, marked or not, so that their holes are compacted.
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (i % 5 == 0) continue;
    EXPECT_EQ(ht_remove(keys[i], table), &keys[i]);
    marked.erase(&keys[i]);
    if (i % 97 == 0) {
      EXPECT_EQ(ht_marked_items(table), expected(marked)) << i;
    }
  }
  EXPECT_EQ(ht_marked_items(table), expected(marked));

  // Unmark some, put removed keys back (they come back unmarked), mark them.
  for (std::size_t i = 0; i < keys.size(); i += 10) {
    ht_unmark(keys[i], table);
    marked.erase(&keys[i]);
  }
  for (std::size_t i = 1; i < keys.size(); i += 4)
    if (i % 5 != 0) {
      ASSERT_TRUE(ht_insert(&keys[i], table)) << keys[i];
    }
  EXPECT_EQ(ht_marked_items(table), expected(marked));
  for (std::size_t i = 1; i < keys.size(); i += 8) {
    ASSERT_TRUE(ht_mark(keys[i], table));
    marked.insert(&keys[i]);
  }
  EXPECT_EQ(ht_marked_items(table), expected(marked));
  EXPECT_EQ(walked_marks(), expected(marked));
  for (const std::string& k : keys) {
    void* held = ht_find(k, table);
    if (held != nullptr) {
      EXPECT_EQ(held, &k);
    }
  }
}

TEST_P(Marks, MarksFollowTheTablesEquality) {
  std::string a = "abcdefgh0", b = "bob";
  ASSERT_TRUE(ht_insert(&a, table));
  ASSERT_TRUE(ht_insert(&b, table));
  EXPECT_FALSE(ht_mark("ann", table));        // not held
  EXPECT_FALSE(ht_mark("abcdefgh1", table));  // same 8 bytes, another bucket
  EXPECT_TRUE(ht_marked_items(table).empty());
  EXPECT_TRUE(ht_mark("abcdefgh_", table));  // same 8 bytes and bucket: a
  EXPECT_TRUE(ht_mark("abcdefgh0", table));  // twice is once
  EXPECT_EQ(ht_marked_items(table), item_list{&a});
  ht_unmark("bob", table);  // not marked: nothing changes
  EXPECT_EQ(ht_marked_items(table), item_list{&a});

  // A removed item takes its mark with it; put back, it is unmarked.
  EXPECT_EQ(ht_remove("abcdefgh0", table), &a);
  EXPECT_TRUE(ht_marked_items(table).empty());
  ASSERT_TRUE(ht_insert(&a, table));
  EXPECT_TRUE(ht_marked_items(table).empty());

  // An emptied table has no marks and takes new ones.
  EXPECT_TRUE(ht_mark("bob", table));
  EXPECT_EQ(ht_remove("bob", table), &b);
  EXPECT_EQ(ht_remove("abcdefgh0", table), &a);
  EXPECT_TRUE(ht_marked_items(table).empty());
  ASSERT_TRUE(ht_insert(&b, table));
  EXPECT_TRUE(ht_mark("bob", table));
  EXPECT_EQ(ht_marked_items(table), item_list{&b});
}

INSTANTIATE_TEST_SUITE_P(Schemes, Marks, testing::Values(&walked, &indexed),
                         [](const auto& param_info) {
                           return param_info.param == &walked ? "walked" : "indexed";
                         });

}  // namespace
}  // namespace zibbet
