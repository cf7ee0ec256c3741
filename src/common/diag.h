// diag.h - the program's own messages on standard error.
#pragma once

#include <string_view>

namespace zibbet {

/// warn - writes "<prog>: <printf text>\n" on standard error.
void warn(std::string_view prog, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace zibbet
