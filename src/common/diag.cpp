// diag.cpp - the program's only way to standard error.
#include "common/diag.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace zibbet {

namespace {

// append_printf - appends the printf text of `format` and `args` to `out`.
void append_printf(std::string& out, const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(nullptr, 0, format, args);
  if (n > 0) {
    std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(n) + 1);
    (void)std::vsnprintf(out.data() + start, static_cast<std::size_t>(n) + 1, format, again);
    out.pop_back();  // vsnprintf's NUL
  }
  va_end(again);
}

// emit - one write for the whole text, so that the lines of concurrent
// writers (command children share standard error) never mix.
void emit(const std::string& text) {
  std::fputs(text.c_str(), stderr);
}

}  // namespace

// printf-style, so that the compiler checks every format against its values.
void warn(std::string_view prog, const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
  std::string line(prog);
  line += ": ";
  va_list args;
  va_start(args, format);
  append_printf(line, format, args);
  va_end(args);
  line += '\n';
  emit(line);
}

void say(const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
  std::string text;
  va_list args;
  va_start(args, format);
  append_printf(text, format, args);
  va_end(args);
  emit(text);
}

void report_errno(std::string_view phrase, int err) {
  std::string line(phrase);
  line += ": ";
  line += std::strerror(err);
  line += '\n';
  emit(line);
}

}  // namespace zibbet
