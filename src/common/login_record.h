// login_record.h - bounded views of a login record's text fields, and
// record text made fit for a terminal.
#pragma once

#include <utmpx.h>

#include <cstring>
#include <string>
#include <string_view>

namespace zibbet {

/// A text field of a login record, up to its NUL or its full width: a
/// field that fills its width carries no NUL and is never read past.
template <std::size_t N>
[[nodiscard]] std::string_view utmpx_field(const char (&field)[N]) {
  return {field, strnlen(field, N)};
}
[[nodiscard]] inline std::string_view utmpx_user(const utmpx& r) {
  return utmpx_field(r.ut_user);
}
[[nodiscard]] inline std::string_view utmpx_line(const utmpx& r) {
  return utmpx_field(r.ut_line);
}
[[nodiscard]] inline std::string_view utmpx_host(const utmpx& r) {
  return utmpx_field(r.ut_host);
}

/// append_shown - appends text from a login record with every control
/// byte (below 0x20, and 0x7f) shown as "?", so none reaches a terminal.
inline void append_shown(std::string& out, std::string_view text) {
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    out += (c < 0x20 || c == 0x7f) ? '?' : ch;
  }
}

/// shown - text from a login record as append_shown shows it.
[[nodiscard]] inline std::string shown(std::string_view text) {
  std::string out;
  append_shown(out, text);
  return out;
}

}  // namespace zibbet
