// owning_table.h - a hash_table paired with the storage that keeps its
// items alive: the table borrows, `owned` owns.
#pragma once

#include <algorithm>
#include <memory>
#include <string_view>
#include <vector>

#include "table/hash_table.h"

namespace zibbet {

template <class T>
struct owning_table {
  hash_table table;
  std::vector<std::unique_ptr<T>> owned;

  explicit owning_table(hash_table t) : table(std::move(t)) {}

  /// Number of items held.
  [[nodiscard]] std::int32_t item_count() const { return table.item_count; }

  /// insert - holds `item` unless an equal one is held already; returns
  /// the held item, or null when `item` was dropped (and destroyed).
  T* insert(std::unique_ptr<T> item) {
    T* raw = item.get();
    if (!ht_insert(raw, table)) return nullptr;
    owned.push_back(std::move(item));
    return raw;
  }

  /// find - the held item equal to `key`, or null.
  [[nodiscard]] T* find(std::string_view key) const {
    return static_cast<T*>(ht_find(key, table));
  }

  /// erase - removes the item equal to `key` and destroys it.
  void erase(std::string_view key) {
    void* raw = ht_remove(key, table);
    if (raw == nullptr) return;
    auto it = std::find_if(owned.begin(), owned.end(),
                           [raw](const std::unique_ptr<T>& p) { return p.get() == raw; });
    if (it == owned.end()) return;
    std::swap(*it, owned.back());
    owned.pop_back();
  }

  /// items - a snapshot in the table's walk order.
  [[nodiscard]] std::vector<T*> items() const {
    item_list raw = ht_items(table);
    std::vector<T*> out;
    out.reserve(raw.size());
    for (void* p : raw) out.push_back(static_cast<T*>(p));
    return out;
  }
};

}  // namespace zibbet
