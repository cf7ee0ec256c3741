// expand.h - the template language of status lines, greetings and
// commands.
#pragma once

#include <optional>
#include <string>

#include "buddy/presence.h"
#include "watch/watch_settings.h"

namespace zibbet {

/// What an expansion is for: values from a login record are made safe for
/// a terminal in every text, and for the shell in a command.
enum class expand_use {
  text,     ///< status line or greeting
  command,  ///< shell command
};

/// bud_expand_fmt - expands `tmpl` against the presence. Returns nullopt
/// when either is missing; otherwise the text, with a final newline unless
/// the run's no_newline is set. "%u", "%m" and "%d" read the run's
/// values and clock from `ws`.
[[nodiscard]] std::optional<std::string> bud_expand_fmt(const watch_settings& ws, const presence* p,
                                                        const char* tmpl,
                                                        expand_use use = expand_use::text);

}  // namespace zibbet
