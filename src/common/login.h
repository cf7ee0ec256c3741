// login.h - one login as every source yields it: who, on which terminal
// line, from where.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zibbet {

/// The most bytes each field of a login holds: the widths of the host's
/// own login records, so that a login from any source shows what the
/// host's records would show.
struct login_widths {
  std::size_t user;
  std::size_t line;
  std::size_t host;
};

/// One login: the user's name, the terminal line (without "/dev/") and
/// the remote host (empty for a local login), each at most as wide as the
/// widths it was made with.
struct login {
  std::string user;
  std::string line;
  std::string host;
};

/// bounded - `text` up to its first NUL and at most `width` bytes: a field
/// that fills its width carries no NUL and is never read past.
[[nodiscard]] inline std::string_view bounded(std::string_view text, std::size_t width) {
  text = text.substr(0, width);
  return text.substr(0, text.find('\0'));
}

/// make_login - a login from its three texts, each cut as bounded() does.
[[nodiscard]] inline login make_login(std::string_view user, std::string_view line,
                                      std::string_view host, const login_widths& widths) {
  return login{std::string(bounded(user, widths.user)), std::string(bounded(line, widths.line)),
               std::string(bounded(host, widths.host))};
}

}  // namespace zibbet
