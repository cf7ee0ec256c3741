// table_test.cpp - the string hash, bucket choice, 8-byte equality within
// one bucket, and snapshot order, for plain strings and for both item
// types the program keeps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "buddy/buddy.h"
#include "support/records.h"
#include "table/keyed_table.h"

namespace zibbet {
namespace {

TEST(StringHash, WorkedValues) {
  struct {
    std::string s;
    std::int32_t hash;
    std::int32_t bucket;
  } cases[] = {
      {"abc", 683, 25},
      {"bob", 712, 7},
      {"alice", 3135, 33},
      {"ann", 718, 13},
      {"hal", 718, 13},
      {"pts/0", 3322, 32},
      {"", 0, 0},
      {"abcdefgh0", 50012, 4},
      {"abcdefgh_", 50059, 4},
      {"abcdefgh1", 50013, 5},
      {"\xE9", -23, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.s);
    EXPECT_EQ(string_hash(c.s), c.hash);
    if (c.hash >= 0) {
      EXPECT_EQ(table_bucket(c.hash, table_buckets), c.bucket);
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
    std::int32_t b = table_bucket(h, table_buckets);
    EXPECT_GE(b, 0);
    EXPECT_LT(b, table_buckets);
    EXPECT_EQ(b, table_bucket(h, table_buckets));
    EXPECT_EQ(static_cast<std::uint32_t>(b), static_cast<std::uint32_t>(h) % 47U);
  }
}

TEST(KeyCompare, StrncmpOverEightBytes) {
  struct {
    const char* a;
    const char* b;
    bool equal;
  } cases[] = {
      {"bob", "bob", true},
      {"bob", "bobby", false},
      {"", "", true},
      {"", "a", false},
      {"abcdefgh0", "abcdefgh_", true},
      {"abcdefgh", "abcdefghi", true},
      {"abcdefg", "abcdefgh", false},
  };
  for (const auto& c : cases) EXPECT_EQ(key_compare(c.a, c.b) == 0, c.equal) << c.a << " / " << c.b;
}

// Items that are their own key.
std::string_view string_key(const std::string& s) {
  return s;
}
using string_table = keyed_table<std::string, string_key>;

class Table : public testing::Test {
 protected:
  string_table table;
  static std::vector<std::string> names(const std::vector<std::string*>& items) {
    std::vector<std::string> out;
    for (const std::string* p : items) out.push_back(*p);
    return out;
  }
};

TEST_F(Table, EmptyTable) {
  EXPECT_EQ(table.find("bob"), nullptr);
  EXPECT_FALSE(table.erase("bob"));
  EXPECT_EQ(table.size(), 0U);
  EXPECT_TRUE(table.items().empty());
}

TEST_F(Table, SnapshotOrderHighBucketFirstOldestFirstWithinBucket) {
  for (const char* s : {"bob", "ann", "hal", "alice"}) EXPECT_NE(table.insert(s), nullptr);
  EXPECT_EQ(table.size(), 4U);
  EXPECT_EQ(names(table.items()), (std::vector<std::string>{"alice", "ann", "hal", "bob"}));
}

TEST_F(Table, AnEqualItemIsDroppedAndTheFirstKept) {
  std::string* first = table.insert("bob");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(table.insert("bob"), nullptr);
  EXPECT_EQ(table.size(), 1U);
  EXPECT_EQ(table.find("bob"), first);
}

TEST_F(Table, EightByteEqualityOnlyWithinOneBucket) {
  std::string* zero = table.insert("abcdefgh0");
  ASSERT_NE(zero, nullptr);
  EXPECT_EQ(table.insert("abcdefgh_"), nullptr);  // bucket 4 too, same first 8 bytes
  EXPECT_EQ(table.find("abcdefgh_"), zero);
  EXPECT_EQ(*zero, "abcdefgh0");
  EXPECT_EQ(table.find("abcdefgh1"), nullptr);  // bucket 5
  std::string* one = table.insert("abcdefgh1");
  EXPECT_NE(one, nullptr);
  EXPECT_EQ(table.size(), 2U);
  EXPECT_EQ(table.find("abcdefgh1"), one);
}

TEST_F(Table, EmptyKeyEqualsOnlyEmpty) {
  std::string* empty = table.insert("");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(table.find(""), empty);
  EXPECT_EQ(table.find("a"), nullptr);
  EXPECT_EQ(names(table.items()), std::vector<std::string>{""});
}

TEST_F(Table, RemovalDuringASnapshotWalk) {
  for (int i = 0; i < 40; ++i) ASSERT_NE(table.insert("user" + std::to_string(i)), nullptr);
  std::vector<std::string*> snapshot = table.items();
  const std::vector<std::string> before = names(snapshot);
  std::vector<std::string> walked;
  for (std::string* p : snapshot) {
    walked.push_back(*p);
    EXPECT_EQ(table.find(*p), p);
    EXPECT_TRUE(table.erase(std::string(*p)));
  }
  EXPECT_EQ(walked, before);
  EXPECT_EQ(walked.size(), 40U);
  EXPECT_EQ(table.size(), 0U);
  EXPECT_EQ(table.find("user3"), nullptr);
}

TEST_F(Table, AKeyEndsAtANulAsStrncmpSeesIt) {
  std::string* ab = table.insert("ab");
  ASSERT_NE(ab, nullptr);
  EXPECT_EQ(table.find(std::string_view("ab\0zz", 5)), ab);
  EXPECT_EQ(table.find(std::string_view("ab\0", 3)), ab);
}

TEST_F(Table, RemoveOfAnAbsentKeyChangesNothing) {
  ASSERT_NE(table.insert("bob"), nullptr);
  EXPECT_FALSE(table.erase("bobby"));
  EXPECT_EQ(table.size(), 1U);
}

// Many keys per bucket, inserts, finds and removals mixed, checked against
// a plain model of the same rules.
TEST_F(Table, ManyItemsAgreeWithAModel) {
  std::vector<std::string> keys;
  for (int i = 0; i < 3000; ++i) keys.push_back("k" + std::to_string(i * 7919 % 5003));
  for (int i = 0; i < 200; ++i) keys.push_back("abcdefgh" + std::to_string(i));
  std::vector<std::string> model;  // held keys in insertion order
  auto model_find = [&](std::string_view key) -> const std::string* {
    std::int32_t b = table_bucket(string_hash(key), table_buckets);
    for (const std::string& s : model)
      if (table_bucket(string_hash(s), table_buckets) == b && key_compare(key, s) == 0) return &s;
    return nullptr;
  };
  for (const std::string& k : keys) {
    bool fresh = model_find(k) == nullptr;
    EXPECT_EQ(table.insert(k) != nullptr, fresh) << k;
    if (fresh) model.push_back(k);
  }
  for (std::size_t i = 0; i < keys.size(); i += 3) {
    const std::string* held = model_find(keys[i]);
    EXPECT_EQ(table.erase(keys[i]), held != nullptr);
    if (held != nullptr) model.erase(model.begin() + (held - model.data()));
  }
  EXPECT_EQ(table.size(), model.size());
  for (const std::string& k : keys) {
    const std::string* want = model_find(k);
    const std::string* got = table.find(k);
    ASSERT_EQ(got != nullptr, want != nullptr) << k;
    if (got != nullptr) {
      EXPECT_EQ(*got, *want) << k;
    }
  }
  // Snapshot: by bucket from the highest down, insertion order within.
  std::vector<std::string> expected;
  for (std::int32_t b = table_buckets - 1; b >= 0; --b)
    for (const std::string& s : model)
      if (table_bucket(string_hash(s), table_buckets) == b) expected.push_back(s);
  EXPECT_EQ(names(table.items()), expected);
}

TEST(BuddyTable, KeyedByNameWith47Buckets) {
  buddy_table buddies;
  for (const char* name : {"bob", "ann", "hal", "alice", "bob"})
    buddies.insert(buddy{name, nullptr, nullptr});
  EXPECT_EQ(buddies.size(), 4U);
  std::vector<std::string> order;
  for (buddy* b : buddies.items()) order.push_back(b->name);
  // alice 33, ann and hal 13, bob 7 of 47 buckets.
  EXPECT_EQ(order, (std::vector<std::string>{"alice", "ann", "hal", "bob"}));
  ASSERT_NE(buddies.find("alice"), nullptr);
  EXPECT_EQ(buddies.find("alice")->name, "alice");
}

TEST(PresenceTable, KeyedByLineOfTheRecord) {
  buddy b;
  presence_table& t = presences_of(b);
  EXPECT_EQ(&t, &presences_of(b));
  for (const char* line : {"pts/0", "pts/1", "pts/0"})
    t.insert(presence{login("alice", line, ""), PRESENCE_NEW});
  EXPECT_EQ(t.size(), 2U);
  std::vector<std::string> order;
  for (presence* p : t.items()) order.emplace_back(p->who.line);
  EXPECT_EQ(order, (std::vector<std::string>{"pts/1", "pts/0"}));  // buckets 33, 32
  t.erase("pts/1");
  EXPECT_EQ(t.size(), 1U);
  EXPECT_EQ(t.find("pts/1"), nullptr);
  EXPECT_NE(t.find("pts/0"), nullptr);
}

}  // namespace
}  // namespace zibbet
