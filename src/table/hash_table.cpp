// hash_table.cpp - buckets, the (bucket, key prefix) index, marks and
// snapshots.
#include "table/hash_table.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace zibbet {

namespace {

using detail::ht_entry;
using detail::ht_storage;

// Index tables below this many items are not worth building: a short scan
// of the entries is as fast.
constexpr std::size_t index_threshold = 8;

// Index slots hold a position in `entries` in their low half, or one of
// these, and in their high half a tag (the top of the item's index hash),
// so that a probe past other keys rarely has to look at their entries.
constexpr std::uint32_t empty_slot = 0xffffffffU;
constexpr std::uint32_t removed_slot = 0xfffffffeU;

std::uint32_t slot_pos(std::uint64_t slot) { return static_cast<std::uint32_t>(slot); }
std::uint32_t slot_tag(std::uint64_t slot) { return static_cast<std::uint32_t>(slot >> 32); }
std::uint64_t make_slot(std::uint32_t tag, std::uint32_t pos) {
  return (static_cast<std::uint64_t>(tag) << 32) | pos;
}

// Holes left by removals are compacted away once there are more of them
// than this and than live items.
constexpr std::size_t hole_allowance = 8;

constexpr std::size_t not_found = static_cast<std::size_t>(-1);

// index_hash - mixes a key's bucket and its first `prefix` bytes.
std::uint64_t index_hash(std::string_view key, std::int32_t bucket, std::size_t prefix) {
  key = key.substr(0, std::min(prefix, key.size()));
  key = key.substr(0, key.find('\0'));  // a key ends at a NUL
  std::uint64_t h = 0xcbf29ce484222325ULL ^ static_cast<std::uint32_t>(bucket);
  if (key.size() <= 8) {
    std::uint64_t packed = 0;
    std::memcpy(&packed, key.data(), key.size());
    h ^= packed + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
  } else {
    for (char c : key) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
  }
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  return h;
}

bool uses_index(const hash_table& t) {
  return t.scheme->index_prefix != 0 && !t.storage.index.empty();
}

std::int32_t bucket_of_key(std::string_view key, const hash_table& t) {
  return ht_bucket(t.scheme->hash(key), t.bucket_count);
}

// packs_prefix - whether the scheme's equality is that of packed prefixes.
bool packs_prefix(const hash_table& t) {
  return t.scheme->index_prefix != 0 && t.scheme->index_prefix <= 8;
}

// packed_prefix - the key's first index_prefix (at most 8) bytes up to a
// NUL, packed and NUL-padded: equal exactly when strncmp over that many
// bytes says the keys are.
std::uint64_t packed_prefix(std::string_view key, const hash_table& t) {
  if (!packs_prefix(t)) return 0;
  std::size_t n = std::min(key.size(), t.scheme->index_prefix);
  // A key ends at a NUL, as strncmp sees it.
  if (const void* nul = std::memchr(key.data(), '\0', n))
    n = static_cast<std::size_t>(static_cast<const char*>(nul) - key.data());
  std::uint64_t packed = 0;
  std::memcpy(&packed, key.data(), n);
  return packed;
}

// same_item - whether a held entry is the key's item: it lies in the key's
// bucket and compares equal (equal keys in other buckets differ). With a
// packed prefix the entry alone decides; otherwise the scheme compares.
bool same_item(std::string_view key, std::uint64_t prefix, std::int32_t bucket,
               const ht_entry& e, const hash_table& t) {
  if (e.item == nullptr || e.bucket != bucket) return false;
  if (packs_prefix(t)) return e.prefix == prefix;
  return t.scheme->compare(key, t.scheme->key_of(e.item)) == 0;
}

// probe_index - the position of the key's item, or not_found; `slot` is
// then the index slot that holds it, or the slot a new item would take.
std::size_t probe_index(std::string_view key, std::int32_t bucket, const hash_table& t,
                        std::size_t& slot) {
  const ht_storage& s = t.storage;
  std::size_t mask = s.index.size() - 1;
  std::uint64_t h = index_hash(key, bucket, t.scheme->index_prefix);
  const std::uint32_t tag = slot_tag(h);
  std::size_t i = h & mask;
  const std::uint64_t prefix = packed_prefix(key, t);
  std::size_t first_removed = not_found;
  for (;; i = (i + 1) & mask) {
    std::uint32_t pos = slot_pos(s.index[i]);
    if (pos == empty_slot) {
      slot = first_removed != not_found ? first_removed : i;
      return not_found;
    }
    if (pos == removed_slot) {
      if (first_removed == not_found) first_removed = i;
      continue;
    }
    if (slot_tag(s.index[i]) == tag && same_item(key, prefix, bucket, s.entries[pos], t)) {
      slot = i;
      return pos;
    }
  }
}

// scan_entries - the position of the key's item by a walk of the entries,
// or not_found.
std::size_t scan_entries(std::string_view key, std::int32_t bucket, const hash_table& t) {
  const std::vector<ht_entry>& entries = t.storage.entries;
  const std::uint64_t prefix = packed_prefix(key, t);
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (same_item(key, prefix, bucket, entries[i], t)) return i;
  return not_found;
}

// find_pos - the position of the key's item, or not_found.
std::size_t find_pos(std::string_view key, std::int32_t bucket, const hash_table& t,
                     std::size_t& slot) {
  slot = not_found;
  return uses_index(t) ? probe_index(key, bucket, t, slot) : scan_entries(key, bucket, t);
}

void rebuild_index(hash_table& t) {
  ht_storage& s = t.storage;
  std::size_t live = static_cast<std::size_t>(t.item_count);
  std::size_t size = 16;
  while (size < live * 2) size *= 2;
  s.index.assign(size, make_slot(0, empty_slot));
  s.index_used = 0;
  std::size_t mask = size - 1;
  for (std::size_t pos = 0; pos < s.entries.size(); ++pos) {
    const ht_entry& e = s.entries[pos];
    if (e.item == nullptr) continue;
    std::uint64_t h = index_hash(t.scheme->key_of(e.item), e.bucket, t.scheme->index_prefix);
    std::size_t i = h & mask;
    while (slot_pos(s.index[i]) != empty_slot) i = (i + 1) & mask;
    s.index[i] = make_slot(slot_tag(h), static_cast<std::uint32_t>(pos));
    ++s.index_used;
  }
}

// walks_before - whether the entry at `a` comes before the one at `b` in a
// snapshot: a higher bucket first, and within a bucket the older first.
bool walks_before(const ht_storage& s, std::uint32_t a, std::uint32_t b) {
  std::int32_t ba = s.entries[a].bucket;
  std::int32_t bb = s.entries[b].bucket;
  return ba != bb ? ba > bb : a < b;
}

// marked_place - where position `pos` stands, or would stand, among the
// marked positions.
std::vector<std::uint32_t>::iterator marked_place(ht_storage& s, std::uint32_t pos) {
  return std::lower_bound(s.marked.begin(), s.marked.end(), pos,
                          [&s](std::uint32_t a, std::uint32_t b) { return walks_before(s, a, b); });
}

// compact - closes the holes left by removals; items keep their order, and
// the index and the marks follow them to their new positions.
void compact(hash_table& t) {
  ht_storage& s = t.storage;
  std::vector<std::uint32_t> moved_to(s.entries.size(), empty_slot);
  std::size_t next = 0;
  for (std::size_t pos = 0; pos < s.entries.size(); ++pos) {
    if (s.entries[pos].item == nullptr) continue;
    moved_to[pos] = static_cast<std::uint32_t>(next);
    s.entries[next++] = s.entries[pos];
  }
  s.entries.resize(next);
  s.holes = 0;
  for (std::uint32_t& pos : s.marked) pos = moved_to[pos];
  if (!s.index.empty()) rebuild_index(t);
}

}  // namespace

hash_table ht_create(std::int32_t bucket_count, const ht_scheme& scheme) {
  hash_table t;
  t.scheme = &scheme;
  t.bucket_count = bucket_count;
  return t;
}

std::int32_t ht_bucket(std::int32_t hash, std::int32_t bucket_count) {
  if (bucket_count <= 0) return 0;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(hash) %
                                   static_cast<std::uint32_t>(bucket_count));
}

void* ht_find(std::string_view key, const hash_table& t) {
  if (t.item_count == 0 || t.bucket_count <= 0) return nullptr;
  std::size_t slot = 0;
  std::size_t pos = find_pos(key, bucket_of_key(key, t), t, slot);
  return pos != not_found ? t.storage.entries[pos].item : nullptr;
}

bool ht_insert(void* item, hash_table& t) {
  if (t.bucket_count <= 0) return false;
  ht_storage& s = t.storage;
  std::string_view key = t.scheme->key_of(item);
  std::int32_t bucket = bucket_of_key(key, t);
  std::size_t slot = 0;
  if (find_pos(key, bucket, t, slot) != not_found) return false;

  auto pos = static_cast<std::uint32_t>(s.entries.size());
  s.entries.push_back({item, bucket, 0, packed_prefix(key, t)});
  ++t.item_count;
  if (uses_index(t)) {
    if (slot_pos(s.index[slot]) == empty_slot) ++s.index_used;
    s.index[slot] = make_slot(slot_tag(index_hash(key, bucket, t.scheme->index_prefix)), pos);
    if (s.index_used * 4 > s.index.size() * 3) rebuild_index(t);
  } else if (t.scheme->index_prefix != 0 &&
             static_cast<std::size_t>(t.item_count) > index_threshold) {
    rebuild_index(t);
  }
  return true;
}

void* ht_remove(std::string_view key, hash_table& t) {
  if (t.item_count == 0 || t.bucket_count <= 0) return nullptr;
  ht_storage& s = t.storage;
  std::size_t slot = 0;
  std::size_t pos = find_pos(key, bucket_of_key(key, t), t, slot);
  if (pos == not_found) return nullptr;

  ht_entry& e = s.entries[pos];
  void* item = e.item;
  if (slot != not_found) s.index[slot] = make_slot(0, removed_slot);
  if (e.marked != 0) s.marked.erase(marked_place(s, static_cast<std::uint32_t>(pos)));
  e = {nullptr, 0, 0, 0};
  ++s.holes;
  --t.item_count;
  if (t.item_count == 0) {
    t.storage = ht_storage{};  // an empty table holds nothing
    return item;
  }
  // Trailing holes are never named by the index or the marks: drop them.
  while (s.entries.back().item == nullptr) {
    s.entries.pop_back();
    --s.holes;
  }
  if (s.holes > hole_allowance && s.holes > static_cast<std::size_t>(t.item_count)) compact(t);
  return item;
}

item_list ht_items(const hash_table& t) {
  item_list out;
  if (t.item_count == 0 || t.bucket_count <= 0) return out;
  const std::vector<ht_entry>& entries = t.storage.entries;
  out.resize(static_cast<std::size_t>(t.item_count));
  if (entries.size() == 1) {
    out[0] = entries[0].item;
    return out;
  }
  // A stable counting sort by bucket, highest bucket first: within one
  // bucket the items keep their insertion order, oldest first. The counts
  // of the usual 47 buckets live on the stack.
  auto buckets = static_cast<std::size_t>(t.bucket_count);
  std::array<std::size_t, 64> small{};
  std::vector<std::size_t> large;
  std::size_t* start = small.data();
  if (buckets + 1 > small.size()) {
    large.assign(buckets + 1, 0);
    start = large.data();
  }
  for (const ht_entry& e : entries)
    if (e.item != nullptr) ++start[buckets - static_cast<std::size_t>(e.bucket)];
  for (std::size_t b = 1; b <= buckets; ++b) start[b] += start[b - 1];
  for (const ht_entry& e : entries)
    if (e.item != nullptr) out[start[buckets - 1 - static_cast<std::size_t>(e.bucket)]++] = e.item;
  return out;
}

bool ht_mark(std::string_view key, hash_table& t) {
  if (t.item_count == 0 || t.bucket_count <= 0) return false;
  ht_storage& s = t.storage;
  std::size_t slot = 0;
  std::size_t pos = find_pos(key, bucket_of_key(key, t), t, slot);
  if (pos == not_found) return false;
  if (s.entries[pos].marked == 0) {
    auto p = static_cast<std::uint32_t>(pos);
    s.marked.insert(marked_place(s, p), p);
    s.entries[pos].marked = 1;
  }
  return true;
}

void ht_unmark(std::string_view key, hash_table& t) {
  if (t.item_count == 0 || t.bucket_count <= 0) return;
  ht_storage& s = t.storage;
  std::size_t slot = 0;
  std::size_t pos = find_pos(key, bucket_of_key(key, t), t, slot);
  if (pos == not_found || s.entries[pos].marked == 0) return;
  s.marked.erase(marked_place(s, static_cast<std::uint32_t>(pos)));
  s.entries[pos].marked = 0;
}

item_list ht_marked_items(const hash_table& t) {
  item_list out;
  if (t.item_count == 0) return out;
  out.reserve(t.storage.marked.size());
  for (std::uint32_t pos : t.storage.marked) out.push_back(t.storage.entries[pos].item);
  return out;
}

}  // namespace zibbet
