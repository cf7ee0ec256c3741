// option_text.h - splitting a buddy's option text into argument words.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "buddy/options.h"

namespace zibbet {

/// split_option_text - cuts `text` (up to its first NUL) into words by the
/// buddy-file quoting rules: `prog_name`, then the words. On malformed
/// quoting writes one message on stderr and gives nothing.
[[nodiscard]] std::optional<arg_vector> split_option_text(std::string_view text,
                                                          const std::string& prog_name);

}  // namespace zibbet
