// settings.h - the run-time settings record, its option parser, and the
// version, usage and bail texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zibbet {

inline constexpr const char* default_message =
    "(zibbet)  %u says: \"shoutout to my homie %b.\"";
inline constexpr const char* default_status_message = "(%d)  %b %o %l from %h";
inline constexpr const char* version_text = "0.53";

/// Every run-time choice. One global instance comes from the command line;
/// a buddy whose line carries option words gets an override record of its
/// own, which starts from the built-in defaults, never from the global one.
struct settings {
  std::string prog_name;                  ///< final path component of argv[0]
  std::optional<std::string> buddyfile;   ///< buddy file path, "-" is stdin
  std::string message;                    ///< greeting template
  std::string status_message;             ///< status-line template
  std::int16_t write_buddies = 0;         ///< greet buddies when they log on
  std::uint32_t interval = 0;             ///< seconds between passes, >= 1
  std::optional<std::string> own_name;    ///< running user's login name
  std::int16_t no_newline = 0;            ///< no final newline on texts
  std::optional<std::string> exec_command;  ///< command template, if any
  std::int16_t process_once = 0;          ///< stop after the first pass
  std::int16_t process_current = 0;       ///< first pass may greet too
  std::int16_t no_buddyfile = 0;          ///< read no buddy file
  std::optional<std::string> users;       ///< the -u list
  std::int16_t all_users = 0;             ///< watch the password database
};

/// The program-wide settings, filled from the command line at start-up.
extern settings global_settings;

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

/// What a parse met that ends the program.
enum class parse_outcome {
  ok,       ///< the scan ended and the defaults are in place
  help,     ///< -h was met: print version and usage, exit 0
  version,  ///< -v was met: print version, exit 0
};

/// parse_options - fills `out` from argv (argv[0] is replaced by its final
/// path component, which becomes prog_name) and reports whether -h or -v
/// stopped the scan. The record is cleared first. Writes only diagnostics
/// of the option scanner and the bad-interval warning to stderr.
[[nodiscard]] parse_outcome parse_options(int argc, char** argv, settings& out);

/// parse_settings - parse_options, then the exit of -h and -v: prints the
/// banner (and the usage) and ends the process with status 0.
void parse_settings(int argc, char** argv, settings& out);

/// The final path component as POSIX basename(3) gives it.
[[nodiscard]] std::string posix_basename(std::string_view path);

/// Converts an -i argument like atoi, without its overflow. Sets `bad` when
/// the value is negative or above 2^31-1 (the caller then uses 1).
[[nodiscard]] std::uint32_t convert_interval(const char* text, bool& bad);

/// Writes the version banner and the copyright line on stderr.
void print_version();

/// Writes the usage text on stderr.
void print_usage();

/// Writes "<prog>: bailing: <message>\n" on stderr when a message is given,
/// then ends the process with `status`.
[[noreturn]] void bail(const char* message, int status);

}  // namespace zibbet
