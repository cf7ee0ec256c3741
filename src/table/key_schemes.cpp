// key_schemes.cpp - string_hash and the buddy and presence key schemes.
#include "table/key_schemes.h"

#include <cstring>

#include "buddy/buddy.h"
#include "watch/presence.h"

namespace zibbet {

std::int32_t string_hash(std::string_view s) {
  std::uint32_t h = 0;
  for (char c : s) {
    if (c == '\0') break;
    // Each byte counts as a signed 8-bit number: 0x80 and above are negative.
    // NOLINTNEXTLINE(bugprone-signed-char-misuse,cert-str34-c)
    auto v = static_cast<std::int32_t>(static_cast<signed char>(c));
    h = 2 * h + static_cast<std::uint32_t>(v);  // wraps modulo 2^32
  }
  return static_cast<std::int32_t>(h);
}

int key_compare(std::string_view key, std::string_view stored) {
  for (std::size_t i = 0; i < key_compare_bytes; ++i) {
    auto a = static_cast<unsigned char>(i < key.size() ? key[i] : '\0');
    auto b = static_cast<unsigned char>(i < stored.size() ? stored[i] : '\0');
    if (a != b) return a < b ? -1 : 1;
    if (a == '\0') return 0;
  }
  return 0;
}

std::int32_t buddy_hash(std::string_view name) { return string_hash(name); }
int buddy_compare(std::string_view key, std::string_view stored) {
  return key_compare(key, stored);
}
std::int32_t presence_hash(std::string_view line) { return string_hash(line); }
int presence_compare(std::string_view key, std::string_view stored) {
  return key_compare(key, stored);
}

namespace {
std::string_view buddy_key(const void* item) {
  return static_cast<const buddy*>(item)->name;
}
std::string_view presence_key(const void* item) {
  return utmpx_line(*static_cast<const presence*>(item)->entry);
}
}  // namespace

const ht_scheme buddy_scheme = {buddy_hash, buddy_compare, buddy_key, key_compare_bytes};
const ht_scheme presence_scheme = {presence_hash, presence_compare, presence_key,
                                   key_compare_bytes};

hash_table buddy_table_new() { return ht_create(table_buckets, buddy_scheme); }

}  // namespace zibbet
