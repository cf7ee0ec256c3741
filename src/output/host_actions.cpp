// host_actions.cpp - the real actions.
#include "output/host_actions.h"

#include <cstdio>
#include <string>

namespace zibbet {

void host_actions::print_status(std::string_view text) {
  // Standard output keeps the host's buffering: never flushed here.
  (void)std::fwrite(text.data(), 1, text.size(), stdout);
}

void host_actions::greet(std::string_view user, std::string_view line, std::string_view greeting) {
  (void)greet_buddy(greetings_, user, line, greeting);
}

void host_actions::run_command(std::string_view command) {
  (void)commands_.start(std::string(command));
}

}  // namespace zibbet
