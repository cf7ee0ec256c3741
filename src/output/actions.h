// actions.h - the one seam between the watch's decisions and the world:
// print a status line, greet a buddy on a line, run a command.
#pragma once

#include <string_view>

namespace zibbet {

/// What the watch can do about a login. The real implementation prints on
/// standard output, delivers greetings and starts commands; tests record
/// what they were asked.
class actions {
 public:
  actions() = default;
  actions(const actions&) = delete;
  actions& operator=(const actions&) = delete;
  virtual ~actions() = default;

  /// print_status - writes one expanded status line as it is (its
  /// newline, if any, is part of it).
  virtual void print_status(std::string_view text) = 0;

  /// greet - delivers the expanded `greeting` to `user` on terminal `line`.
  virtual void greet(std::string_view user, std::string_view line, std::string_view greeting) = 0;

  /// run_command - runs the expanded command text through the shell,
  /// without waiting for it.
  virtual void run_command(std::string_view command) = 0;
};

}  // namespace zibbet
