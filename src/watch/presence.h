// presence.h - one login of one buddy on one terminal line.
#pragma once

#include <utmpx.h>

#include <cstdint>
#include <string_view>

#include "common/login_record.h"

namespace zibbet {

/// The state of a login within a pass.
enum presence_state : std::uint32_t {
  PRESENCE_GONE = 0,  ///< not seen in this pass (yet)
  PRESENCE_NEW = 1,   ///< first seen in this pass
  PRESENCE_SEEN = 2,  ///< known, and seen again in this pass
};

/// One login: a copy of its record taken when it was first seen and never
/// changed afterwards, and its state in the current pass.
struct presence {
  utmpx record{};
  presence_state state = PRESENCE_NEW;
};

/// presence_key - a presence's key in its buddy's table: the terminal line.
[[nodiscard]] inline std::string_view presence_key(const presence& p) {
  return utmpx_line(p.record);
}

}  // namespace zibbet
