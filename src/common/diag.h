// diag.h - the program's only way to standard error: its own "prog: ..."
// messages, lines without a prefix, and a system call's failure.
#pragma once

#include <string_view>

namespace zibbet {

/// warn - writes "<prog>: <printf text>\n" on standard error.
void warn(std::string_view prog, const char* format, ...) __attribute__((format(printf, 2, 3)));

/// say - writes a printf text on standard error as it is (no prefix, no
/// newline added): the messages that carry no program name.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// report_errno - writes "<phrase>: <strerror(err)>\n" on standard error,
/// as perror(phrase) does for errno `err`.
void report_errno(std::string_view phrase, int err);

}  // namespace zibbet
