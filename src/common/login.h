// login.h - one login as every source yields it: who, on which terminal
// line, from where.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace zibbet {

/// The most bytes each field of a login holds: the widths of the host's
/// own login records, so that a login from any source shows what the
/// host's records would show.
struct login_widths {
  std::size_t user;
  std::size_t line;
  std::size_t host;
};

/// bounded - `text` up to its first NUL and at most `width` bytes: a field
/// that fills its width carries no NUL and is never read past.
[[nodiscard]] inline std::string_view bounded(std::string_view text, std::size_t width) {
  text = text.substr(0, width);
  return text.substr(0, text.find('\0'));
}

/// One login as a source hands it out: views of the user's name, the
/// terminal line (without "/dev/") and the remote host (empty for a local
/// login), valid only while the source hands it out.
struct login_view {
  std::string_view user;
  std::string_view line;
  std::string_view host;
};

/// bounded_login - the login with each field cut as bounded() does.
[[nodiscard]] inline login_view bounded_login(login_view v, const login_widths& widths) {
  return {bounded(v.user, widths.user), bounded(v.line, widths.line), bounded(v.host, widths.host)};
}

/// One login kept: its own copy of the user, the line and the host.
struct login {
  std::string user;
  std::string line;
  std::string host;

  login() = default;
  explicit login(const login_view& v) : user(v.user), line(v.line), host(v.host) {}
  login(std::string u, std::string l, std::string h)
      : user(std::move(u)), line(std::move(l)), host(std::move(h)) {}

  /// view - the login as a view of this copy.
  [[nodiscard]] login_view view() const { return {user, line, host}; }
};

}  // namespace zibbet
