// notify.h - what is done for a login that appeared or disappeared.
#pragma once

#include "buddy/buddy.h"
#include "buddy/presence.h"
#include "output/actions.h"
#include "watch/watch_settings.h"

namespace zibbet {

/// notify_buddy - for a new or gone login, expands the buddy's status
/// line, greeting (only when `pass_may_greet` and the buddy's notice may
/// greet) and command, every one before any is used; prints the status
/// line and, for a new login, greets and runs the command through `out`.
/// A PRESENCE_SEEN presence does nothing.
void notify_buddy(const watch_settings& ws, const buddy& b, const presence& p, bool pass_may_greet,
                  actions& out);

}  // namespace zibbet
