// expand.h - the template language of status lines, greetings and
// commands.
#pragma once

#include <ctime>
#include <optional>
#include <string>

#include "watch/presence.h"

namespace zibbet {

/// What an expansion is for: values from a login record are made safe for
/// a terminal in every text, and for the shell in a command.
enum class expand_use {
  text,     ///< status line or greeting
  command,  ///< shell command
};

/// The clock behind "%d"; tests fix the time with it.
using clock_fn = std::time_t (*)();

/// set_expand_clock - use `fn` as the clock; null restores time(nullptr).
void set_expand_clock(clock_fn fn);

/// bud_expand_fmt - expands `tmpl` against the presence. Returns nullopt
/// when either is missing; otherwise the text, with a final newline unless
/// the global no_newline is set.
[[nodiscard]] std::optional<std::string> bud_expand_fmt(const presence* p, const char* tmpl,
                                                        expand_use use = expand_use::text);

}  // namespace zibbet
