// notify.h - what is done for a login that appeared or disappeared: the
// status line, the greeting through write(1), and the command.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "buddy/buddy.h"
#include "watch/presence.h"

namespace zibbet {

/// notify_buddy - prints the status line of a new or gone login and, for
/// a new one, greets (as `greet_mode` and the settings say) and runs the
/// command. A PRESENCE_SEEN presence does nothing.
void notify_buddy(const buddy& b, const presence& p, std::int16_t greet_mode);

/// write_to_buddy - prompts on stdout, then hands `greeting` to the host's
/// write utility for `user` on `line` if that line is a terminal. Returns
/// 0 when the terminal was accepted, -1 when it was refused.
int write_to_buddy(std::string_view user, std::string_view line, const std::string& greeting);

/// set_greeting_limit - how long a greeting may take before its write
/// utility is stopped (10 seconds unless changed; tests shorten it).
void set_greeting_limit(std::chrono::milliseconds limit);

/// fork_and_exec - runs `command` through the shell in a child that is not
/// waited for. Returns the child's pid, or -1 when no child could be made.
pid_t fork_and_exec(const std::string& command);

/// reap_children - collects command children that have ended, without
/// waiting for running ones.
void reap_children();

}  // namespace zibbet
