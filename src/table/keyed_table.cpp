// keyed_table.cpp - the string hash, bucket choice and key equality.
#include "table/keyed_table.h"

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

std::int32_t table_bucket(std::int32_t hash, std::int32_t bucket_count) {
  if (bucket_count <= 0) return 0;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(hash) %
                                   static_cast<std::uint32_t>(bucket_count));
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

}  // namespace zibbet
