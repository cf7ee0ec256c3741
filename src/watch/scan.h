// scan.h - one pass over the login records.
#pragma once

#include <cstdint>

#include "buddy/buddy.h"

namespace zibbet {

/// scan_logins - marks every login gone, reads the login records, and
/// notifies every login of every buddy in snapshot order, forgetting the
/// gone ones. Every notification is done when it returns.
void scan_logins(buddy_table& buddies, std::int16_t greet_mode);

}  // namespace zibbet
