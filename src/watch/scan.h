// scan.h - one pass over the login records.
#pragma once

#include <cstdint>

#include "buddy/buddy.h"
#include "watch/context.h"
#include "logins/login_source.h"

namespace zibbet {

/// scan_logins - marks every login gone, reads one pass of `source`, and
/// notifies every login of every buddy in snapshot order, forgetting the
/// gone ones. Every notification is done when it returns.
void scan_logins(buddy_table& buddies, login_source& source, watch_context& ctx,
                 std::int16_t greet_mode);

}  // namespace zibbet
