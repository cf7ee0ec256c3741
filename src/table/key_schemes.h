// key_schemes.h - the string hash and the two key schemes: buddies by
// name, presences by terminal line, both equal over at most 8 bytes.
#pragma once

#include <cstdint>
#include <string_view>

#include "table/hash_table.h"

namespace zibbet {

/// Bucket count of the buddy table and of every presence table.
inline constexpr std::int32_t table_buckets = 47;

/// Names and lines are equal when they agree in their first 8 bytes.
inline constexpr std::size_t key_compare_bytes = 8;

/// string_hash - h = 2h + byte (bytes read as signed 8-bit), modulo 2^32,
/// over the string up to its end or its first NUL, read as signed 32-bit.
[[nodiscard]] std::int32_t string_hash(std::string_view s);

/// key_compare - strncmp over at most 8 bytes: 0 when equal.
[[nodiscard]] int key_compare(std::string_view key, std::string_view stored);

/// Buddies (buddy*) keyed by `name`.
extern const ht_scheme buddy_scheme;
/// Presences (presence*) keyed by the `ut_line` of their `entry`.
extern const ht_scheme presence_scheme;

/// The hash and compare of each scheme, by the names the rest uses.
[[nodiscard]] std::int32_t buddy_hash(std::string_view name);
[[nodiscard]] int buddy_compare(std::string_view key, std::string_view stored);
[[nodiscard]] std::int32_t presence_hash(std::string_view line);
[[nodiscard]] int presence_compare(std::string_view key, std::string_view stored);

/// buddy_table_new - an empty table of 47 buckets under the buddy scheme.
[[nodiscard]] hash_table buddy_table_new();

}  // namespace zibbet
