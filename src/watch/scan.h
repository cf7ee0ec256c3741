// scan.h - one pass over the logins.
#pragma once

#include "buddy/buddy.h"
#include "logins/login_source.h"
#include "output/actions.h"
#include "watch/watch_settings.h"

namespace zibbet {

/// scan_logins - marks every login gone, reads one pass of `source`, and
/// notifies every login of every buddy in snapshot order through `out`,
/// forgetting the gone ones. `pass_may_greet` is false on a first pass
/// without -p: nobody is greeted then. Every notification is done when it
/// returns.
void scan_logins(buddy_table& buddies, login_source& source, const watch_settings& ws,
                 bool pass_may_greet, actions& out);

}  // namespace zibbet
