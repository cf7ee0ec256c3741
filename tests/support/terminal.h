// terminal.h - what a greeting needs in a test: a pseudo-terminal for the
// buddy's line, and a fake write utility first on PATH.
#pragma once

#include <string>

#include "support/harness.h"

namespace zibbet::test {

/// A pseudo-terminal a buddy can be logged in on; the test holds the
/// master side, so the slave stays a terminal while the object lives.
class pseudo_terminal {
 public:
  pseudo_terminal();
  ~pseudo_terminal();
  pseudo_terminal(const pseudo_terminal&) = delete;
  pseudo_terminal& operator=(const pseudo_terminal&) = delete;
  /// The login line: the slave's path without "/dev/" (empty on failure).
  [[nodiscard]] const std::string& line() const { return line_; }
  /// The master side: what is written to the terminal reads back here.
  [[nodiscard]] int master() const { return master_; }

 private:
  int master_ = -1;
  std::string line_;
};

/// A write utility that appends "argv: [a] [b]", a newline and its input
/// to the file named by FAKE_WRITE_LOG.
extern const char* const logging_write_script;

/// install_fake_write - writes `script` as dir/bin/write with its run bit
/// and returns the folder dir/bin, to put first on PATH.
std::string install_fake_write(const temp_dir& dir,
                               const std::string& script = logging_write_script);

}  // namespace zibbet::test
