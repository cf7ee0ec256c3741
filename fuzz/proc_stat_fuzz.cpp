// proc_stat_fuzz.cpp - arbitrary bytes as the text of /proc/PID/stat and
// of /proc/self/mountinfo.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "logins/session_terminals.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);

  zibbet::proc_stat_fields fields;
  if (zibbet::parse_proc_stat(text, fields)) {
    // The fields end at field 22: what follows it changes nothing.
    if (text.find(')') == std::string_view::npos) std::abort();
    std::string longer(text);
    longer += " 1 2 x";
    zibbet::proc_stat_fields again;
    if (!zibbet::parse_proc_stat(longer, again)) std::abort();
    if (again.state != fields.state || again.tty_nr != fields.tty_nr ||
        again.starttime != fields.starttime)
      std::abort();
    if (std::optional<std::string> line = zibbet::terminal_line(fields.tty_nr)) {
      // A login line: letters, digits and one slash, never empty.
      if (line->empty()) std::abort();
      for (char c : *line) {
        bool ok =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/';
        if (!ok) std::abort();
      }
    }
  }

  if (std::optional<std::string> point = zibbet::cgroup2_mount(text)) {
    // An absolute path without a NUL, no longer than the text it came from.
    if (point->empty() || point->front() != '/') std::abort();
    if (point->find('\0') != std::string::npos || point->size() > size) std::abort();
  }
  return 0;
}
