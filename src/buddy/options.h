// options.h - reading settings from argument words: the command line's,
// and the option words of a buddy's line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "buddy/settings.h"

namespace zibbet {

/// An owned argument vector shaped like main's: the words, then a null
/// pointer, as getopt_long wants them. The scanner may reorder argv().
class arg_vector {
 public:
  arg_vector() = default;
  explicit arg_vector(std::vector<std::string> words);
  arg_vector(const arg_vector&) = delete;
  arg_vector& operator=(const arg_vector&) = delete;
  arg_vector(arg_vector&&) noexcept = default;
  arg_vector& operator=(arg_vector&&) noexcept = default;
  ~arg_vector() = default;

  /// Number of words, element 0 included.
  [[nodiscard]] int argc() const { return static_cast<int>(words_.size()); }
  /// The words as a null-terminated vector of pointers into this object.
  [[nodiscard]] char** argv() { return ptrs_.data(); }
  /// The words in their original order.
  [[nodiscard]] const std::vector<std::string>& words() const { return words_; }

 private:
  std::vector<std::string> words_;
  std::vector<char*> ptrs_;
};

/// How a parse ended.
enum class parse_outcome {
  ok,       ///< the scan ended and the defaults are in place
  help,     ///< -h was met: the caller prints version and usage
  version,  ///< -v was met: the caller prints the version
};

/// parse_options - fills `out` from argv (argv[0] is replaced by its final
/// path component, which becomes prog_name) and reports whether -h or -v
/// stopped the scan. The record is cleared first. Writes only diagnostics
/// of the option scanner and the bad-interval warning to stderr.
[[nodiscard]] parse_outcome parse_options(int argc, char** argv, settings& out);

/// posix_basename - the final path component as POSIX basename(3) gives it.
[[nodiscard]] std::string posix_basename(std::string_view path);

/// convert_interval - an -i argument converted like atoi, without its
/// overflow. Sets `bad` when the value is negative or above 2^31-1 (the
/// caller then uses 1).
[[nodiscard]] std::uint32_t convert_interval(const char* text, bool& bad);

}  // namespace zibbet
