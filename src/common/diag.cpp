// diag.cpp - the program's own messages on standard error.
#include "common/diag.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace zibbet {

// printf-style, so that the compiler checks every format against its values.
void warn(std::string_view prog, const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
  // One write for the whole line, so lines of concurrent writers never mix.
  std::string line(prog);
  line += ": ";
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (n > 0) {
    std::size_t start = line.size();
    line.resize(start + static_cast<std::size_t>(n) + 1);
    (void)std::vsnprintf(line.data() + start, static_cast<std::size_t>(n) + 1, format, again);
    line.pop_back();  // vsnprintf's NUL
  }
  va_end(again);
  line += '\n';
  std::fputs(line.c_str(), stderr);
}

}  // namespace zibbet
