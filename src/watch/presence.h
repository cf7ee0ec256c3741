// presence.h - one login of one buddy on one terminal line, and bounded
// views of the text fields of a login record.
#pragma once

#include <utmpx.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

namespace zibbet {

/// The state of a login within a pass.
enum presence_state : std::uint32_t {
  PRESENCE_GONE = 0,  ///< not seen in this pass (yet)
  PRESENCE_NEW = 1,   ///< first seen in this pass
  PRESENCE_SEEN = 2,  ///< known, and seen again in this pass
};

/// A text field of a login record, up to its NUL or its full width: a
/// field that fills its width carries no NUL and is never read past.
template <std::size_t N>
[[nodiscard]] std::string_view utmpx_field(const char (&field)[N]) {
  return {field, strnlen(field, N)};
}
[[nodiscard]] inline std::string_view utmpx_user(const utmpx& r) { return utmpx_field(r.ut_user); }
[[nodiscard]] inline std::string_view utmpx_line(const utmpx& r) { return utmpx_field(r.ut_line); }
[[nodiscard]] inline std::string_view utmpx_host(const utmpx& r) { return utmpx_field(r.ut_host); }

/// One login. `entry` is the login record: for a held presence it points
/// at `record`, the copy of the whole record taken when the login was
/// first seen and never changed afterwards.
struct presence {
  const utmpx* entry = nullptr;
  presence_state state = PRESENCE_GONE;
  std::unique_ptr<const utmpx> record;
};

/// presence_new - a PRESENCE_NEW presence holding a copy of `live`.
[[nodiscard]] std::unique_ptr<presence> presence_new(const utmpx& live);

}  // namespace zibbet
