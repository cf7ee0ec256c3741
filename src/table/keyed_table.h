// keyed_table.h - a keyed set of owned items in a fixed number of buckets,
// walked in a fixed order, with a marked subset.
//
// An item lies in the bucket that the hash of its key selects. Two keys are
// equal when they lie in one bucket and agree in their first 8 bytes up to
// a NUL (strncmp over 8 bytes); equal keys in other buckets differ. A walk
// goes from the highest bucket down, and within a bucket oldest first.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zibbet {

/// Bucket count of the buddy table and of every presence table.
inline constexpr std::int32_t table_buckets = 47;

/// Keys are equal when they agree in their first 8 bytes.
inline constexpr std::size_t key_compare_bytes = 8;

/// string_hash - h = 2h + byte (bytes read as signed 8-bit), modulo 2^32,
/// over the string up to its end or its first NUL, read as signed 32-bit.
[[nodiscard]] std::int32_t string_hash(std::string_view s);

/// table_bucket - the bucket of `hash`: a negative hash counts as its
/// unsigned 32-bit value.
[[nodiscard]] std::int32_t table_bucket(std::int32_t hash, std::int32_t bucket_count);

/// key_compare - strncmp over at most 8 bytes: 0 when equal.
[[nodiscard]] int key_compare(std::string_view key, std::string_view stored);

/// A table of items of type T, each keyed by KeyOf(item), which the table
/// owns: inserting moves an item in, erasing destroys it. Pointers to held
/// items stay valid until the item is erased, so a snapshot of pointers
/// can be walked while the items it has passed are erased.
template <class T, std::string_view (*KeyOf)(const T&)>
class keyed_table {
 public:
  explicit keyed_table(std::int32_t bucket_count = table_buckets) : buckets_(bucket_count) {}

  /// Number of items held.
  [[nodiscard]] std::size_t size() const { return entries_.size(); }

  /// reserve - room for `n` items in all without a rehash.
  void reserve(std::size_t n) { entries_.reserve(n); }

  /// insert - holds `item` unless an equal key is held already; returns
  /// the held item, or null when `item` was dropped.
  T* insert(T item) {
    slot_key key = slot_of(KeyOf(item));
    auto [it, fresh] = entries_.try_emplace(key, entry{std::move(item), next_seq_});
    if (!fresh) return nullptr;
    ++next_seq_;
    return &it->second.item;
  }

  /// find - the held item whose key equals `key`, or null.
  [[nodiscard]] T* find(std::string_view key) {
    auto it = entries_.find(slot_of(key));
    return it != entries_.end() ? &it->second.item : nullptr;
  }
  [[nodiscard]] const T* find(std::string_view key) const {
    auto it = entries_.find(slot_of(key));
    return it != entries_.end() ? &it->second.item : nullptr;
  }

  /// erase - destroys the item equal to `key`, mark and all. Returns
  /// whether one was held.
  bool erase(std::string_view key) {
    auto it = entries_.find(slot_of(key));
    if (it == entries_.end()) return false;
    marked_.erase(walk_key{it->first.bucket, it->second.seq});
    entries_.erase(it);
    return true;
  }

  /// items - a snapshot of every held item, in walk order.
  [[nodiscard]] std::vector<T*> items() {
    std::vector<T*> out;
    out.reserve(entries_.size());
    if (entries_.size() <= 1) {
      for (auto& kv : entries_) out.push_back(&kv.second.item);
      return out;
    }
    // Sorted by walk order beside the items; a few (a buddy's logins, as
    // a rule) are sorted on the stack.
    using placed = std::pair<walk_key, T*>;
    constexpr std::size_t on_stack = 64;
    std::array<placed, on_stack> small;
    std::vector<placed> large;
    placed* order = small.data();
    if (entries_.size() > on_stack) {
      large.resize(entries_.size());
      order = large.data();
    }
    std::size_t n = 0;
    for (auto& [key, e] : entries_) order[n++] = {walk_key{key.bucket, e.seq}, &e.item};
    std::sort(order, order + n,
              [](const placed& a, const placed& b) { return walks_before{}(a.first, b.first); });
    for (std::size_t i = 0; i < n; ++i) out.push_back(order[i].second);
    return out;
  }

  /// for_each - calls fn(item) for every item, in no particular order.
  /// `fn` must not insert or erase.
  template <class Fn>
  void for_each(Fn&& fn) {
    for (auto& kv : entries_) fn(kv.second.item);
  }

  /// mark - puts the item equal to `key` among the marked items until it
  /// is unmarked or erased. Returns whether such an item is held.
  bool mark(std::string_view key) {
    auto it = entries_.find(slot_of(key));
    if (it == entries_.end()) return false;
    marked_.emplace(walk_key{it->first.bucket, it->second.seq}, &it->second.item);
    return true;
  }

  /// unmark - takes the item equal to `key` out of the marked items.
  void unmark(std::string_view key) {
    auto it = entries_.find(slot_of(key));
    if (it != entries_.end()) marked_.erase(walk_key{it->first.bucket, it->second.seq});
  }

  /// marked_items - a snapshot of the marked items alone, in walk order.
  [[nodiscard]] std::vector<T*> marked_items() {
    std::vector<T*> out;
    out.reserve(marked_.size());
    for (const auto& m : marked_) out.push_back(m.second);
    return out;
  }

  /// for_each_marked - calls fn(item) for every marked item in walk order.
  /// `fn` must not insert, erase, mark or unmark.
  template <class Fn>
  void for_each_marked(Fn&& fn) {
    for (const auto& m : marked_) fn(*m.second);
  }

 private:
  // Where a key lies, and its first 8 bytes up to a NUL, packed and
  // NUL-padded: two keys are equal exactly when these are.
  struct slot_key {
    std::int32_t bucket;
    std::uint64_t prefix;
    bool operator==(const slot_key&) const = default;
  };
  struct slot_hash {
    // Every byte of the prefix reaches every bit of the result (the
    // finalizer of MurmurHash3), since names often differ in their last
    // bytes only.
    std::size_t operator()(const slot_key& k) const noexcept {
      std::uint64_t h = k.prefix ^ (static_cast<std::uint64_t>(k.bucket) << 56);
      h ^= h >> 33;
      h *= 0xff51afd7ed558ccdULL;
      h ^= h >> 33;
      h *= 0xc4ceb9fe1a85ec53ULL;
      h ^= h >> 33;
      return static_cast<std::size_t>(h);
    }
  };
  // An item's place in a walk: its bucket, and when it came.
  struct walk_key {
    std::int32_t bucket;
    std::uint64_t seq;
  };
  struct walks_before {
    bool operator()(const walk_key& a, const walk_key& b) const {
      return a.bucket != b.bucket ? a.bucket > b.bucket : a.seq < b.seq;
    }
  };
  struct entry {
    T item;
    std::uint64_t seq;
  };

  [[nodiscard]] slot_key slot_of(std::string_view key) const {
    std::size_t n = std::min(key.size(), key_compare_bytes);
    if (const void* nul = std::memchr(key.data(), '\0', n))
      n = static_cast<std::size_t>(static_cast<const char*>(nul) - key.data());
    std::uint64_t prefix = 0;
    if (n != 0) std::memcpy(&prefix, key.data(), n);
    return {table_bucket(string_hash(key), buckets_), prefix};
  }

  std::int32_t buckets_;
  std::uint64_t next_seq_ = 0;
  std::unordered_map<slot_key, entry, slot_hash> entries_;
  std::map<walk_key, T*, walks_before> marked_;
};

}  // namespace zibbet
