// greeting.h - a greeting on a buddy's terminal: the prompt, then the
// delivery the run chose.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace zibbet {

/// How a greeting reaches the buddy's terminal.
enum class greeting_delivery {
  write_utility,  ///< the host's write(1), fed through a pipe
  terminal,       ///< written to the terminal device by zibbet itself
};

/// What every greeting of a run shares.
struct greeting_settings {
  std::string prog_name;  ///< names the program in warnings
  std::string sender;     ///< the running user's name
  bool no_newline = false;
  /// How long a greeting may hold the watcher before it is given up.
  std::chrono::milliseconds limit{10000};
  greeting_delivery delivery = greeting_delivery::write_utility;
};

/// greeting_text - what a delivery hands on: the expanded greeting and one
/// more newline, unless no_newline is set.
[[nodiscard]] std::string greeting_text(const greeting_settings& s, std::string_view greeting);

/// greet_buddy - prints "can i write to LINE?" on standard output (no
/// newline, no flush), then delivers the greeting to `user` on `line`.
/// Returns 0 when the terminal was accepted, -1 when it was refused (after
/// the warning that says so).
int greet_buddy(const greeting_settings& s, std::string_view user, std::string_view line,
                std::string_view greeting);

/// refuse_greeting - "<prog>: warning, not writing to USER on LINE";
/// returns -1.
int refuse_greeting(const greeting_settings& s, std::string_view user, std::string_view line);

}  // namespace zibbet
