// presence.h - one login of one buddy on one terminal line.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/login.h"

namespace zibbet {

/// The state of a login within a pass.
enum presence_state : std::uint32_t {
  PRESENCE_GONE = 0,  ///< not seen in this pass (yet)
  PRESENCE_NEW = 1,   ///< first seen in this pass
  PRESENCE_SEEN = 2,  ///< known, and seen again in this pass
};

/// One login: a copy taken when it was first seen and never changed
/// afterwards, and its state in the current pass.
struct presence {
  login who;
  presence_state state = PRESENCE_NEW;
};

/// presence_key - a presence's key in its buddy's table: the terminal line.
[[nodiscard]] inline std::string_view presence_key(const presence& p) {
  return p.who.line;
}

}  // namespace zibbet
