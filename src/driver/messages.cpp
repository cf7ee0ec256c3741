// messages.cpp - the version banner, the usage text and the bail message.
#include "driver/messages.h"

#include <string>

#include "common/diag.h"
#include "common/version.h"

namespace zibbet {

namespace {

constexpr const char* usage_lines[] = {
    "  -h, --help                   this informative usage summary :)",
    "  -v, --version                the current version and copyright",
    "",
    "  -a, --all-users              load and watch for all users",
    "  -c, --exec-cmd=CMD           evaluate/execute CMD with every login",
    "  -f, --buddyfile=FILE         use FILE as buddyfile, can be '-' for",
    "                               signifying to use stdin.",
    "  -F, --no-buddyfile           do not attempt to load the file which",
    "                               contains the list of buddies to watch",
    "  -i, --interval=NUM           sleep NUM seconds between each polling",
    "  -m, --message=STRING         use STRING as a message template to greet",
    "                               logged-in buddies. RTFM for more information",
    "  -n, --no-newline             don't end the various messages in newlines",
    "  -o, --process-once           exit after having scanned once through the",
    "                               records.",
    "  -p, --process-current        override zibbet's default behavior and",
    "                               message/write/exec-cmd the users already",
    "                               logged in.",
    "  -q, --silent                 don't message buddies when they log in",
    "  -s, --status-message=STRING  use STRING as a template for displaying the",
    "                               status of people logging in and out",
    "  -u, --users=LIST             adds LIST to the list of buddies for which",
    "                               to watch.",
    "  -w, --write-budies           be obnoxious and write your buddy every time",
    "                               you see him/her log in.",
};

}  // namespace

void print_version(std::string_view prog) {
  say("%.*s v%.*s\t-\tziibbbeeet?\n", static_cast<int>(prog.size()), prog.data(),
      static_cast<int>(version_text.size()), version_text.data());
  say("Copyright (C) 2026 the zibbet developers\n");
}

void print_usage(std::string_view prog) {
  std::string text = "\nusage:\t" + std::string(prog) + " [OPTIONS] ...\n";
  for (const char* line : usage_lines) {
    text += line;
    text += '\n';
  }
  say("%s", text.c_str());
}

void bail_message(std::string_view prog, const char* message) {
  warn(prog, "bailing: %s", message);
}

}  // namespace zibbet
