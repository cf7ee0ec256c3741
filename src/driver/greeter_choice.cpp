// greeter_choice.cpp - how a run delivers its greetings.
#include "driver/greeter_choice.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "common/untrusted.h"

namespace zibbet {

greeter_decision decide_greeter(const char* env, const greeter_host& host) {
  std::string_view wanted = env != nullptr ? env : "";
  if (wanted == "write") return {greeting_delivery::write_utility, {}};
  if (wanted == "terminal") return {greeting_delivery::terminal, {}};
  if (!wanted.empty() && wanted != "auto") {
    return {std::nullopt, "unknown ZIBBET_GREETER \"" + terminal_safe(wanted) +
                              "\" (accepted values: auto, write, terminal)"};
  }
  const bool utility_works = host.write_on_path && !host.logind_source &&
                             (!host.refuses_without_tty || host.stream_is_tty);
  return {utility_works ? greeting_delivery::write_utility : greeting_delivery::terminal, {}};
}

bool write_utility_on_path() {
  const char* path = std::getenv("PATH");
  std::string_view rest = path != nullptr ? path : "";
  for (;;) {
    std::size_t colon = rest.find(':');
    std::string_view dir = rest.substr(0, colon);
    // An empty entry is the current folder, as execvp takes it.
    std::string file = (dir.empty() ? std::string(".") : std::string(dir)) + "/write";
    struct stat st {};
    if (stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(file.c_str(), X_OK) == 0)
      return true;
    if (colon == std::string_view::npos) return false;
    rest.remove_prefix(colon + 1);
  }
}

greeter_host this_greeter_host(bool logind_source) {
  greeter_host h;
  h.logind_source = logind_source;
  h.write_on_path = write_utility_on_path();
#if defined(__FreeBSD__)
  h.refuses_without_tty = true;  // its write(1) looks for the sender's terminal
#endif
  h.stream_is_tty =
      isatty(STDIN_FILENO) != 0 || isatty(STDOUT_FILENO) != 0 || isatty(STDERR_FILENO) != 0;
  return h;
}

}  // namespace zibbet
