// terminal_delivery.h - a greeting written straight to a buddy's
// terminal: only to a terminal under /dev that is hers and has messages
// on, framed by a "Message from" header and "EOF", with every control
// byte shown rather than sent, and never holding the watch for long.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace zibbet {

/// What a delivery needs from the run.
struct terminal_delivery_settings {
  std::string prog_name;  ///< names the program in the warnings
  std::string sender;     ///< the run's own login name, for the header
  /// How long a terminal whose output is stopped or whose buffer is full
  /// may hold the watch before the greeting is given up.
  std::chrono::milliseconds limit{10000};
  // Test seams; null means the real thing.
  /// The uid of a login name, nullopt for an unknown name (by default the
  /// password database, through getpwnam_r).
  std::optional<uid_t> (*uid_of)(const std::string& user) = nullptr;
  /// The time shown in the header (by default std::time).
  std::time_t (*clock)() = nullptr;
};

/// Where a message comes from, as its header line names it.
struct message_origin {
  std::string sender;  ///< the sender's login name
  std::string host;    ///< this host's name
  std::string tty;     ///< the sender's terminal without "/dev/", or "no tty"
  std::tm at{};        ///< local time; only the hour and minute are shown
};

/// append_visible - appends `text` as it may reach a terminal: every
/// control byte shown in caret notation (^G, ^[, ^?), every byte of 0x80
/// and above that is not part of a well-formed UTF-8 character outside
/// U+0080..U+009F shown as \xNN. With `layout`, a newline becomes CR LF
/// and a tab stays; without, both are shown as ^J and ^I.
void append_visible(std::string& out, std::string_view text, bool layout);

/// terminal_message - the bytes a delivery writes: CR LF, the header line
/// "Message from SENDER@HOST on TTY at HH:MM ...", `text` made visible,
/// and a last line "EOF"; every line ends in CR LF.
[[nodiscard]] std::string terminal_message(const message_origin& from, std::string_view text);

/// deliver_to_terminal - writes `text` (the expanded greeting and its
/// newline, if any) to `user`'s terminal `line` (a name under /dev), as
/// terminal_message frames it. Refuses, with a warning on standard error,
/// a line that is unsafe, no terminal, not the user's or has messages
/// off; gives up after `s.limit` on a terminal that takes no output.
/// Returns true when the whole message was written.
[[nodiscard]] bool deliver_to_terminal(const terminal_delivery_settings& s, std::string_view user,
                                       std::string_view line, std::string_view text);

}  // namespace zibbet
