// settings.h - the run-time settings record and its built-in defaults.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zibbet {

/// The program's version, set once by the build.
inline constexpr std::string_view version_text = ZIBBET_VERSION;

inline constexpr const char* default_message = "(zibbet)  %u says: \"shoutout to my homie %b.\"";
inline constexpr const char* default_status_message = "(%d)  %b %o %l from %h";

/// Every run-time choice. The run's record comes from the command line; a
/// buddy whose line carries option words gets an override record of its
/// own, which starts from the built-in defaults, never from the run's.
/// Some fields count only in the run's record: `no_newline`, `own_name`,
/// `prog_name`, and `write_buddies` as "%m" shows it.
struct settings {
  std::string prog_name;                    ///< final path component of argv[0]
  std::optional<std::string> buddyfile;     ///< buddy file path, "-" is stdin
  std::string message;                      ///< greeting template
  std::string status_message;               ///< status-line template
  std::int16_t write_buddies = 0;           ///< greet buddies when they log on
  std::uint32_t interval = 0;               ///< seconds between passes, >= 1
  std::optional<std::string> own_name;      ///< running user's login name
  std::int16_t no_newline = 0;              ///< no final newline on texts
  std::optional<std::string> exec_command;  ///< command template, if any
  std::int16_t process_once = 0;            ///< stop after the first pass
  std::int16_t process_current = 0;         ///< first pass may greet too
  std::int16_t no_buddyfile = 0;            ///< read no buddy file
  std::optional<std::string> users;         ///< the -u list
  std::int16_t all_users = 0;               ///< watch the password database
};

}  // namespace zibbet
