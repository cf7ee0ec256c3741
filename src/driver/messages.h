// messages.h - the version banner, the usage text and the bail message.
#pragma once

#include <string_view>

namespace zibbet {

/// print_version - writes the version banner and the copyright line on
/// stderr, naming the program `prog`.
void print_version(std::string_view prog);

/// print_usage - writes the usage text on stderr.
void print_usage(std::string_view prog);

/// bail_message - writes "<prog>: bailing: <message>\n" on stderr.
void bail_message(std::string_view prog, const char* message);

}  // namespace zibbet
