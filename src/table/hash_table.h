// hash_table.h - a chained hash table of borrowed items with a fixed number
// of buckets, and the snapshot list through which every walk is made.
//
// The table owns its bucket storage and nothing else: it never copies,
// takes over or releases an item. Whoever inserts an item keeps it alive
// while the table holds it (owning_table.h pairs a table with such storage).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace zibbet {

/// Hash of a whole key string.
using ht_hash_fn = std::int32_t (*)(std::string_view key);
/// Equality of a lookup key and a stored item's key: 0 means equal.
using ht_compare_fn = int (*)(std::string_view key, std::string_view stored);
/// The key of a stored item (the first field of its record).
using ht_key_fn = std::string_view (*)(const void* item);

/// How one kind of table hashes and compares: supplied by the caller.
struct ht_scheme {
  ht_hash_fn hash;
  ht_compare_fn compare;
  ht_key_fn key_of;
  /// When non-zero, `compare` is promised to be equality of the first
  /// `index_prefix` bytes of two NUL-free keys (strncmp over that many
  /// bytes); the table then finds keys through an index of (bucket, prefix)
  /// instead of walking a chain. Zero: chains are walked with `compare`.
  std::size_t index_prefix;
};

/// A snapshot of a table's items, in walk order. It holds items, not chain
/// nodes, so it stays valid while the table changes.
using item_list = std::vector<void*>;

namespace detail {

/// One held item, the bucket its hash selected, and whether it is marked.
/// For schemes with an index prefix of up to 8 bytes, `prefix` holds the
/// key's first bytes packed (NUL-padded), which decides equality without
/// touching the item. A removed item leaves a hole (a null item) until the
/// entries are compacted, so that positions stay put in between.
struct ht_entry {
  void* item;
  std::int32_t bucket;
  std::uint32_t marked;
  std::uint64_t prefix;
};

/// Items in insertion order (the snapshot sorts them by bucket), plus an
/// optional open-addressing index of tagged positions in `entries` for schemes
/// with an index prefix, and the marked items' positions in walk order.
struct ht_storage {
  std::vector<ht_entry> entries;
  std::vector<std::uint64_t> index;
  std::size_t index_used = 0;  // live positions plus removal markers
  std::size_t holes = 0;       // removed entries not yet compacted away
  std::vector<std::uint32_t> marked;
};

}  // namespace detail

/// A keyed set of borrowed items in `bucket_count` buckets. An item lies
/// in the bucket its key's hash selects; within a bucket no two items
/// compare equal. An empty table holds no heap storage.
struct hash_table {
  const ht_scheme* scheme = nullptr;
  std::int32_t bucket_count = 0;
  std::int32_t item_count = 0;
  detail::ht_storage storage;
};

/// ht_create - a new empty table of `bucket_count` buckets under `scheme`,
/// which must outlive it.
[[nodiscard]] hash_table ht_create(std::int32_t bucket_count, const ht_scheme& scheme);

/// ht_bucket - the bucket a hash selects: the hash read as unsigned, modulo
/// the bucket count, so that negative hashes land in range too.
[[nodiscard]] std::int32_t ht_bucket(std::int32_t hash, std::int32_t bucket_count);

/// ht_insert - adds `item` unless its bucket already holds an equal one.
/// Returns true when the table now holds the item; false leaves the table
/// unchanged and the item the caller's.
bool ht_insert(void* item, hash_table& table);

/// ht_find - the stored item equal to `key`, or null.
[[nodiscard]] void* ht_find(std::string_view key, const hash_table& table);

/// ht_remove - unlinks the stored item equal to `key`, if any, and returns
/// it (null when none); the item itself is not released.
void* ht_remove(std::string_view key, hash_table& table);

/// ht_items - a snapshot of the items: buckets from the highest index down
/// to 0, and within a bucket the items oldest first.
[[nodiscard]] item_list ht_items(const hash_table& table);

/// ht_for_each_unordered - calls fn(item) for every item, in no particular
/// order, without making a snapshot. `fn` must not change the table.
template <class Fn>
void ht_for_each_unordered(const hash_table& table, Fn&& fn) {
  for (const detail::ht_entry& e : table.storage.entries)
    if (e.item != nullptr) fn(e.item);
}

/// ht_mark - marks the stored item equal to `key`, so that it is among
/// the marked items until it is unmarked or removed. Returns whether such
/// an item is held. Marking costs a walk of the marked items at most.
bool ht_mark(std::string_view key, hash_table& table);

/// ht_unmark - unmarks the stored item equal to `key`, if it is marked.
void ht_unmark(std::string_view key, hash_table& table);

/// ht_marked_items - a snapshot of the marked items alone, in the order
/// ht_items gives them; it costs nothing for the items that are unmarked.
[[nodiscard]] item_list ht_marked_items(const hash_table& table);

/// ht_for_each_marked - calls fn(item) for every marked item, in walk
/// order, without making a snapshot. `fn` must not change the table.
template <class Fn>
void ht_for_each_marked(const hash_table& table, Fn&& fn) {
  const detail::ht_storage& s = table.storage;
  for (std::uint32_t pos : s.marked) fn(s.entries[pos].item);
}

}  // namespace zibbet
