// shell.h - running documented command lines as a user pastes them, and
// interactive programs (shells) on a pseudo-terminal, typed at like a
// user types.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/harness.h"

namespace zibbet::test {

/// find_program - the full path of `name` on PATH, or "" when it is not there.
std::string find_program(const std::string& name);

/// shell_line - options that run `line` with bash in the folder `dir`, as if
/// pasted there into a shell: `cd DIR` first, then the line word for word.
run_options shell_line(const std::string& dir, const std::string& line,
                       std::vector<std::string> env = {});

/// An interactive program whose standard input, output and error are one
/// pseudo-terminal, its controlling terminal; it leads a session of its own.
class pty_session {
 public:
  /// Starts opts.program (required) with opts.args and opts.env; the other
  /// fields are ignored.
  explicit pty_session(const run_options& opts);
  ~pty_session();
  pty_session(const pty_session&) = delete;
  pty_session& operator=(const pty_session&) = delete;

  /// Types `keys` (nothing is added: "\t" is a tab, "\r" the Enter key).
  void type(const std::string& keys);
  /// Reads until what it wrote since `from` holds `text`, or the timeout
  /// passes. Returns whether it appeared.
  bool wait_for(const std::string& text, std::size_t from = 0,
                std::chrono::milliseconds timeout = std::chrono::seconds(10));
  /// Everything it wrote so far, escape sequences and "\r\n" included.
  [[nodiscard]] const std::string& output() const { return out_; }

 private:
  pid_t pid_ = -1;
  int master_ = -1;
  std::string out_;
};

}  // namespace zibbet::test
