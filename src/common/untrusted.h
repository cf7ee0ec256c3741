// untrusted.h - text that came from outside (login records, the password
// database, the environment) made safe for where it goes: a terminal, a
// shell word, a device path.
#pragma once

#include <string>
#include <string_view>

namespace zibbet {

/// append_terminal_safe - appends `text` with every control byte (below
/// 0x20, and 0x7f) shown as "?", so that none reaches a terminal.
inline void append_terminal_safe(std::string& out, std::string_view text) {
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    out += (c < 0x20 || c == 0x7f) ? '?' : ch;
  }
}

/// terminal_safe - `text` as append_terminal_safe shows it.
[[nodiscard]] inline std::string terminal_safe(std::string_view text) {
  std::string out;
  append_terminal_safe(out, text);
  return out;
}

/// shell_word_byte - whether a byte may reach a shell command as it is:
/// letters, digits, ". _ - : / @ +" and every byte above 0x7f. No such
/// byte quotes, expands, separates or ends a word.
[[nodiscard]] inline bool shell_word_byte(unsigned char c) {
  if (c >= 0x80) return true;
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return c == '.' || c == '_' || c == '-' || c == ':' || c == '/' || c == '@' || c == '+';
}

/// append_shell_safe - appends `text` with every byte that is no
/// shell_word_byte (control bytes included) replaced by "_".
inline void append_shell_safe(std::string& out, std::string_view text) {
  for (char ch : text) out += shell_word_byte(static_cast<unsigned char>(ch)) ? ch : '_';
}

/// device_line_safe - whether a terminal line names a path inside /dev:
/// not empty, not absolute, and without a ".." component.
[[nodiscard]] inline bool device_line_safe(std::string_view line) {
  if (line.empty() || line.front() == '/') return false;
  std::size_t start = 0;
  for (;;) {
    std::size_t slash = line.find('/', start);
    std::string_view part = line.substr(
        start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
    if (part == "..") return false;
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}

}  // namespace zibbet
