// documents.h - the commands the README and the manual page show, read
// from the documents themselves.
#pragma once

#include <string>
#include <vector>

namespace zibbet::test {

/// A command as a document shows it, and the same without its trailing
/// comment (the key tests know it by).
struct shown_command {
  std::string line;  ///< as shown, comment included; continuation lines joined by "\\\n"
  std::string key;   ///< without a trailing "  # comment"
};

/// readme_commands - the lines of the README's sh blocks, comment lines left out.
std::vector<shown_command> readme_commands();

/// man_commands - the example blocks of the page's EXAMPLES, as a reader sees them.
std::vector<shown_command> man_commands();

/// line_for - the line, comment included, that a document shows for `key`
/// (`key` itself when none does).
std::string line_for(const std::string& key);

/// replace_all - `text` with every `from` replaced by `to`.
std::string replace_all(std::string text, const std::string& from, const std::string& to);

}  // namespace zibbet::test
