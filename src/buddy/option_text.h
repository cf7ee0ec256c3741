// option_text.h - splitting a buddy's option text into argument words.
#pragma once

#include <string_view>

#include "driver/settings.h"

namespace zibbet {

/// split_option_text - cuts `text` (up to its first NUL) into words by the
/// buddy-file quoting rules. On success fills `out` with a copy of the
/// global prog_name, then the words, and returns the number of words plus
/// one (at least 1). On malformed quoting writes one message on stderr,
/// leaves `out` alone and returns -1.
[[nodiscard]] int split_option_text(std::string_view text, arg_vector& out);

}  // namespace zibbet
