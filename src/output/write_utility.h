// write_utility.h - a greeting through the host's write(1).
#pragma once

#include <string_view>

#include "output/greeting.h"

namespace zibbet {

/// write_with_utility - hands `text` to "write USER LINE" if /dev/LINE
/// names a terminal inside /dev, and waits for the utility, stopping it
/// after s.limit. Returns 0 when the terminal was accepted, -1 when it was
/// refused.
int write_with_utility(const greeting_settings& s, std::string_view user, std::string_view line,
                       std::string_view text);

}  // namespace zibbet
