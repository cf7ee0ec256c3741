// hash_table.cpp - buckets, the (bucket, key prefix) index and snapshots.
#include "table/hash_table.h"

#include <algorithm>
#include <cstring>

namespace zibbet {

namespace {

using detail::ht_entry;
using detail::ht_storage;

// Index tables below this many items are not worth building: a short scan
// of the entries is as fast.
constexpr std::size_t index_threshold = 8;

// Marks an index slot whose item was removed, so that probing goes on.
char removed_marker_byte;
void* const removed_marker = &removed_marker_byte;

// index_hash - mixes a key's bucket and its first `prefix` bytes.
std::uint64_t index_hash(std::string_view key, std::int32_t bucket, std::size_t prefix) {
  key = key.substr(0, std::min(prefix, key.size()));
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
  return t.scheme->index_prefix != 0 && !t.storage->index.empty();
}

std::int32_t bucket_of_key(std::string_view key, const hash_table& t) {
  return ht_bucket(t.scheme->hash(key), t.bucket_count);
}

// equal_in_bucket - whether a stored item is the key's item: it compares
// equal and lies in the key's bucket (equal keys in other buckets differ).
bool equal_in_bucket(std::string_view key, std::int32_t bucket, void* item,
                     const hash_table& t) {
  std::string_view stored = t.scheme->key_of(item);
  return t.scheme->compare(key, stored) == 0 && bucket_of_key(stored, t) == bucket;
}

// index_slot - the slot that holds the key's item, or the first free slot
// of its probe sequence (null there); -1 never: the index is never full.
std::size_t index_slot(std::string_view key, std::int32_t bucket, const hash_table& t,
                       bool* found) {
  const std::vector<void*>& index = t.storage->index;
  std::size_t mask = index.size() - 1;
  std::size_t i = index_hash(key, bucket, t.scheme->index_prefix) & mask;
  std::size_t first_removed = index.size();
  for (;; i = (i + 1) & mask) {
    void* item = index[i];
    if (item == nullptr) {
      *found = false;
      return first_removed != index.size() ? first_removed : i;
    }
    if (item == removed_marker) {
      if (first_removed == index.size()) first_removed = i;
      continue;
    }
    if (equal_in_bucket(key, bucket, item, t)) {
      *found = true;
      return i;
    }
  }
}

void rebuild_index(hash_table& t) {
  ht_storage& s = *t.storage;
  std::size_t size = 16;
  while (size < s.entries.size() * 2) size *= 2;
  s.index.assign(size, nullptr);
  s.index_used = 0;
  for (const ht_entry& e : s.entries) {
    std::string_view key = t.scheme->key_of(e.item);
    std::size_t mask = size - 1;
    std::size_t i = index_hash(key, e.bucket, t.scheme->index_prefix) & mask;
    while (s.index[i] != nullptr) i = (i + 1) & mask;
    s.index[i] = e.item;
    ++s.index_used;
  }
}

// find_entry - position in `entries` of the item equal to the key, by a
// scan of the entries; entries.size() when none.
std::size_t scan_entries(std::string_view key, std::int32_t bucket, const hash_table& t) {
  const std::vector<ht_entry>& entries = t.storage->entries;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].bucket == bucket &&
        t.scheme->compare(key, t.scheme->key_of(entries[i].item)) == 0)
      return i;
  }
  return entries.size();
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
  if (!t.storage || t.bucket_count <= 0) return nullptr;
  std::int32_t bucket = bucket_of_key(key, t);
  if (uses_index(t)) {
    bool found = false;
    std::size_t slot = index_slot(key, bucket, t, &found);
    return found ? t.storage->index[slot] : nullptr;
  }
  std::size_t i = scan_entries(key, bucket, t);
  return i < t.storage->entries.size() ? t.storage->entries[i].item : nullptr;
}

bool ht_insert(void* item, hash_table& t) {
  if (t.bucket_count <= 0) return false;
  if (!t.storage) t.storage = std::make_unique<ht_storage>();
  ht_storage& s = *t.storage;
  std::string_view key = t.scheme->key_of(item);
  std::int32_t bucket = bucket_of_key(key, t);

  if (uses_index(t)) {
    bool found = false;
    std::size_t slot = index_slot(key, bucket, t, &found);
    if (found) return false;
    if (s.index[slot] == nullptr) ++s.index_used;
    s.index[slot] = item;
    s.entries.push_back({item, bucket});
    if (s.index_used * 4 > s.index.size() * 3) rebuild_index(t);
  } else {
    if (scan_entries(key, bucket, t) < s.entries.size()) return false;
    s.entries.push_back({item, bucket});
    if (t.scheme->index_prefix != 0 && s.entries.size() > index_threshold) rebuild_index(t);
  }
  ++t.item_count;
  return true;
}

void* ht_remove(std::string_view key, hash_table& t) {
  if (!t.storage || t.bucket_count <= 0) return nullptr;
  ht_storage& s = *t.storage;
  std::int32_t bucket = bucket_of_key(key, t);
  void* item = nullptr;
  std::size_t pos = s.entries.size();
  if (uses_index(t)) {
    bool found = false;
    std::size_t slot = index_slot(key, bucket, t, &found);
    if (!found) return nullptr;
    item = s.index[slot];
    s.index[slot] = removed_marker;
    for (pos = 0; s.entries[pos].item != item; ++pos) {
    }
  } else {
    pos = scan_entries(key, bucket, t);
    if (pos == s.entries.size()) return nullptr;
    item = s.entries[pos].item;
  }
  s.entries.erase(s.entries.begin() + static_cast<std::ptrdiff_t>(pos));
  --t.item_count;
  if (s.entries.empty()) t.storage.reset();  // an empty table holds nothing
  return item;
}

item_list ht_items(const hash_table& t) {
  item_list out;
  if (!t.storage || t.bucket_count <= 0) return out;
  const std::vector<ht_entry>& entries = t.storage->entries;
  out.resize(entries.size());
  if (entries.size() == 1) {
    out[0] = entries[0].item;
    return out;
  }
  // A stable counting sort by bucket, highest bucket first: within one
  // bucket the items keep their insertion order, oldest first.
  std::vector<std::size_t> start(static_cast<std::size_t>(t.bucket_count) + 1, 0);
  for (const ht_entry& e : entries)
    ++start[static_cast<std::size_t>(t.bucket_count - 1 - e.bucket) + 1];
  for (std::size_t b = 1; b < start.size(); ++b) start[b] += start[b - 1];
  for (const ht_entry& e : entries)
    out[start[static_cast<std::size_t>(t.bucket_count - 1 - e.bucket)]++] = e.item;
  return out;
}

}  // namespace zibbet
