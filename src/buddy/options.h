// options.h - reading options from argument words: the command line's,
// and the option words of a buddy's line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zibbet {

inline constexpr const char* default_message = "(zibbet)  %u says: \"shoutout to my homie %b.\"";
inline constexpr const char* default_status_message = "(%d)  %b %o %l from %h";

/// What a list of option words says: the command line's make the run's
/// options, a buddy's line makes the buddy's own (of which only the
/// templates and -w/-q count, see buddy_notice). Every record starts from
/// the built-in defaults.
struct options {
  std::string prog_name;                    ///< final path component of argv[0]
  std::optional<std::string> buddyfile;     ///< buddy file path, "-" is stdin
  std::string message;                      ///< greeting template
  std::string status_message;               ///< status-line template
  bool write_buddies = false;               ///< greet buddies when they log on
  std::uint32_t interval = 0;               ///< seconds between passes, >= 1
  bool no_newline = false;                  ///< no final newline on texts
  std::optional<std::string> exec_command;  ///< command template, if any
  bool process_once = false;                ///< stop after the first pass
  bool process_current = false;             ///< first pass may greet too
  bool no_buddyfile = false;                ///< read no buddy file
  std::optional<std::string> users;         ///< the -u list
  bool all_users = false;                   ///< watch the password database
};

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
[[nodiscard]] parse_outcome parse_options(int argc, char** argv, options& out);

/// posix_basename - the final path component as POSIX basename(3) gives it.
[[nodiscard]] std::string posix_basename(std::string_view path);

/// convert_interval - an -i argument converted like atoi, without its
/// overflow. Sets `bad` when the value is negative or above 2^31-1 (the
/// caller then uses 1).
[[nodiscard]] std::uint32_t convert_interval(const char* text, bool& bad);

}  // namespace zibbet
