// notify.h - what is done for a login that appeared or disappeared: the
// status line, the greeting through write(1), and the command.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "watch/presence.h"
#include "buddy/buddy.h"
#include "watch/context.h"

namespace zibbet {

/// notify_buddy - prints the status line of a new or gone login and, for
/// a new one, greets (as `greet_mode` and the settings say) and runs the
/// command. A PRESENCE_SEEN presence does nothing.
void notify_buddy(watch_context& ctx, const buddy& b, const presence& p, std::int16_t greet_mode);

/// write_to_buddy - prompts on stdout, then hands `greeting` to the host's
/// write utility for `user` on `line` if that line is a terminal, stopping
/// it after ctx.greeting_limit. Returns 0 when the terminal was accepted,
/// -1 when it was refused.
int write_to_buddy(const watch_context& ctx, std::string_view user, std::string_view line,
                   const std::string& greeting);

/// fork_and_exec - runs `command` through the shell in a child that is not
/// waited for, counted in ctx.pending_commands. Returns the child's pid,
/// or -1 when no child could be made.
pid_t fork_and_exec(watch_context& ctx, const std::string& command);

/// reap_children - collects command children that have ended, without
/// waiting for running ones.
void reap_children(watch_context& ctx);

}  // namespace zibbet
