// table_test.cpp - the string hash, bucket choice, 8-byte equality within
// one bucket, and snapshot order, for both key schemes and for the plain
// chain walk (a scheme without an index).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "buddy/buddy.h"
#include "support/records.h"
#include "table/hash_table.h"
#include "table/key_schemes.h"
#include "table/owning_table.h"

namespace zibbet {
namespace {

TEST(StringHash, WorkedValues) {
  struct {
    std::string s;
    std::int32_t hash;
    std::int32_t bucket;
  } cases[] = {
      {"abc", 683, 25},       {"bob", 712, 7},         {"alice", 3135, 33},
      {"ann", 718, 13},       {"hal", 718, 13},        {"pts/0", 3322, 32},
      {"", 0, 0},             {"abcdefgh0", 50012, 4}, {"abcdefgh_", 50059, 4},
      {"abcdefgh1", 50013, 5}, {"\xE9", -23, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.s);
    EXPECT_EQ(string_hash(c.s), c.hash);
    if (c.hash >= 0) {
      EXPECT_EQ(ht_bucket(c.hash, table_buckets), c.bucket);
    }
  }
}

TEST(StringHash, OnlyTheLast32BytesCountAndNulEnds) {
  std::string tail(32, 'x');
  EXPECT_EQ(string_hash("a" + tail), string_hash("b" + tail));
  EXPECT_EQ(string_hash(std::string("ab\0cd", 5)), string_hash("ab"));
}

TEST(HtBucket, NegativeHashesLandInRangeAndStayPut) {
  for (std::int32_t h : {-1, -23, -2147483647 - 1, 2147483647}) {
    std::int32_t b = ht_bucket(h, table_buckets);
    EXPECT_GE(b, 0);
    EXPECT_LT(b, table_buckets);
    EXPECT_EQ(b, ht_bucket(h, table_buckets));
    EXPECT_EQ(static_cast<std::uint32_t>(b), static_cast<std::uint32_t>(h) % 47U);
  }
}

TEST(KeyCompare, StrncmpOverEightBytes) {
  struct {
    const char* a;
    const char* b;
    bool equal;
  } cases[] = {
      {"bob", "bob", true},           {"bob", "bobby", false},
      {"", "", true},                 {"", "a", false},
      {"abcdefgh0", "abcdefgh_", true}, {"abcdefgh", "abcdefghi", true},
      {"abcdefg", "abcdefgh", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(key_compare(c.a, c.b) == 0, c.equal) << c.a << " / " << c.b;
}

// A scheme without an index: lookups walk the bucket with `compare`.
std::string_view string_key(const void* item) { return *static_cast<const std::string*>(item); }
const ht_scheme walked_scheme = {string_hash, key_compare, string_key, 0};
const ht_scheme indexed_scheme = {string_hash, key_compare, string_key, 8};

class Table : public testing::TestWithParam<const ht_scheme*> {
 protected:
  hash_table table = ht_create(table_buckets, *GetParam());
  std::vector<std::string> names(const item_list& items) {
    std::vector<std::string> out;
    for (void* p : items) out.push_back(*static_cast<std::string*>(p));
    return out;
  }
};

TEST_P(Table, EmptyTable) {
  EXPECT_EQ(ht_find("bob", table), nullptr);
  EXPECT_EQ(ht_remove("bob", table), nullptr);
  EXPECT_EQ(table.item_count, 0);
  EXPECT_TRUE(ht_items(table).empty());
}

TEST_P(Table, SnapshotOrderHighBucketFirstOldestFirstWithinBucket) {
  std::string bob = "bob", ann = "ann", hal = "hal", alice = "alice";
  for (std::string* s : {&bob, &ann, &hal, &alice}) EXPECT_TRUE(ht_insert(s, table));
  EXPECT_EQ(table.item_count, 4);
  EXPECT_EQ(names(ht_items(table)), (std::vector<std::string>{"alice", "ann", "hal", "bob"}));
}

TEST_P(Table, AnEqualItemIsDroppedAndTheFirstKept) {
  std::string first = "bob", second = "bob";
  EXPECT_TRUE(ht_insert(&first, table));
  EXPECT_FALSE(ht_insert(&second, table));
  EXPECT_EQ(table.item_count, 1);
  EXPECT_EQ(ht_find("bob", table), &first);
}

TEST_P(Table, EightByteEqualityOnlyWithinOneBucket) {
  std::string zero = "abcdefgh0", under = "abcdefgh_", one = "abcdefgh1";
  EXPECT_TRUE(ht_insert(&zero, table));
  EXPECT_FALSE(ht_insert(&under, table));  // bucket 4 too, same first 8 bytes
  EXPECT_EQ(ht_find("abcdefgh_", table), &zero);
  EXPECT_EQ(ht_find("abcdefgh1", table), nullptr);  // bucket 5
  EXPECT_TRUE(ht_insert(&one, table));
  EXPECT_EQ(table.item_count, 2);
  EXPECT_EQ(ht_find("abcdefgh1", table), &one);
}

TEST_P(Table, EmptyKeyEqualsOnlyEmpty) {
  std::string empty;
  EXPECT_TRUE(ht_insert(&empty, table));
  EXPECT_EQ(ht_find("", table), &empty);
  EXPECT_EQ(ht_find("a", table), nullptr);
  EXPECT_EQ(names(ht_items(table)), std::vector<std::string>{""});
}

TEST_P(Table, RemovalDuringASnapshotWalk) {
  std::vector<std::string> keys;
  for (int i = 0; i < 40; ++i) keys.push_back("user" + std::to_string(i));
  for (std::string& k : keys) ASSERT_TRUE(ht_insert(&k, table));
  item_list snapshot = ht_items(table);
  std::vector<std::string> walked;
  for (void* p : snapshot) {
    const std::string& k = *static_cast<std::string*>(p);
    walked.push_back(k);
    EXPECT_EQ(ht_remove(k, table), p);
  }
  EXPECT_EQ(walked, names(snapshot));
  EXPECT_EQ(walked.size(), keys.size());
  EXPECT_EQ(table.item_count, 0);
  EXPECT_EQ(ht_find("user3", table), nullptr);
}

TEST_P(Table, AKeyEndsAtANulAsStrncmpSeesIt) {
  std::string ab = "ab";
  ASSERT_TRUE(ht_insert(&ab, table));
  EXPECT_EQ(ht_find(std::string_view("ab\0zz", 5), table), &ab);
  EXPECT_EQ(ht_find(std::string_view("ab\0", 3), table), &ab);
}

TEST_P(Table, RemoveOfAnAbsentKeyChangesNothing) {
  std::string bob = "bob";
  ASSERT_TRUE(ht_insert(&bob, table));
  EXPECT_EQ(ht_remove("bobby", table), nullptr);
  EXPECT_EQ(table.item_count, 1);
}

// Long chains: many keys per bucket, inserts, finds and removals mixed,
// checked against a plain model of the same rules.
TEST_P(Table, ManyItemsAgreeWithAModel) {
  std::vector<std::string> keys;
  for (int i = 0; i < 3000; ++i) keys.push_back("k" + std::to_string(i * 7919 % 5003));
  for (int i = 0; i < 200; ++i) keys.push_back("abcdefgh" + std::to_string(i));
  std::vector<std::string*> model;  // held items in insertion order
  auto model_find = [&](std::string_view key) -> std::string* {
    std::int32_t b = ht_bucket(string_hash(key), table_buckets);
    for (std::string* s : model)
      if (ht_bucket(string_hash(*s), table_buckets) == b && key_compare(key, *s) == 0) return s;
    return nullptr;
  };
  for (std::string& k : keys) {
    bool fresh = model_find(k) == nullptr;
    EXPECT_EQ(ht_insert(&k, table), fresh) << k;
    if (fresh) model.push_back(&k);
  }
  for (std::size_t i = 0; i < keys.size(); i += 3) {
    std::string* held = model_find(keys[i]);
    EXPECT_EQ(ht_remove(keys[i], table), held);
    std::erase(model, held);
  }
  EXPECT_EQ(table.item_count, static_cast<std::int32_t>(model.size()));
  for (const std::string& k : keys) EXPECT_EQ(ht_find(k, table), model_find(k)) << k;
  // Snapshot: by bucket from the highest down, insertion order within.
  item_list expected;
  for (std::int32_t b = table_buckets - 1; b >= 0; --b)
    for (std::string* s : model)
      if (ht_bucket(string_hash(*s), table_buckets) == b) expected.push_back(s);
  EXPECT_EQ(ht_items(table), expected);
}

INSTANTIATE_TEST_SUITE_P(Schemes, Table, testing::Values(&walked_scheme, &indexed_scheme),
                         [](const auto& param_info) {
                           return param_info.param == &walked_scheme ? "walked" : "indexed";
                         });

TEST(BuddyTable, KeyedByNameWith47Buckets) {
  buddy_table buddies;
  EXPECT_EQ(buddies.table.bucket_count, 47);
  EXPECT_EQ(buddies.table.scheme, &buddy_scheme);
  for (const char* name : {"bob", "ann", "hal", "alice", "bob"}) {
    auto b = std::make_unique<buddy>();
    b->name = name;
    buddies.insert(std::move(b));
  }
  EXPECT_EQ(buddies.item_count(), 4);
  std::vector<std::string> order;
  for (buddy* b : buddies.items()) order.push_back(b->name);
  EXPECT_EQ(order, (std::vector<std::string>{"alice", "ann", "hal", "bob"}));
  ASSERT_NE(buddies.find("alice"), nullptr);
  EXPECT_EQ(buddies.find("alice")->name, "alice");
}

TEST(PresenceTable, KeyedByLineOfTheRecord) {
  buddy b;
  presence_table& t = presences_of(b);
  EXPECT_EQ(&t, &presences_of(b));
  EXPECT_EQ(t.table.bucket_count, 47);
  for (const char* line : {"pts/0", "pts/1", "pts/0"})
    t.insert(presence_new(test::make_record({"alice", line, ""})));
  EXPECT_EQ(t.item_count(), 2);
  std::vector<std::string> order;
  for (presence* p : t.items()) order.emplace_back(utmpx_line(*p->entry));
  EXPECT_EQ(order, (std::vector<std::string>{"pts/1", "pts/0"}));  // buckets 33, 32
  t.erase("pts/1");
  EXPECT_EQ(t.item_count(), 1);
  EXPECT_EQ(t.find("pts/1"), nullptr);
  EXPECT_NE(t.find("pts/0"), nullptr);
}

}  // namespace
}  // namespace zibbet
