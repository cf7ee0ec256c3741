// greeting.cpp - the prompt of a greeting, and the delivery it goes by.
#include "output/greeting.h"

#include <cstdio>

#include "common/diag.h"
#include "common/untrusted.h"
#include "output/terminal_delivery.h"
#include "output/write_utility.h"

namespace zibbet {

std::string greeting_text(const greeting_settings& s, std::string_view greeting) {
  std::string text(greeting);
  if (!s.no_newline) text += '\n';
  return text;
}

int refuse_greeting(const greeting_settings& s, std::string_view user, std::string_view line) {
  warn(s.prog_name, "warning, not writing to %s on %s", terminal_safe(user).c_str(),
       terminal_safe(line).c_str());
  return -1;
}

int greet_buddy(const greeting_settings& s, std::string_view user, std::string_view line,
                std::string_view greeting) {
  // The prompt comes before any test, also when the line is then refused.
  std::printf("can i write to %s?", terminal_safe(line).c_str());
  const std::string text = greeting_text(s, greeting);
  switch (s.delivery) {
    case greeting_delivery::write_utility: return write_with_utility(s, user, line, text);
    case greeting_delivery::terminal: {
      terminal_delivery_settings t;
      t.prog_name = s.prog_name;
      t.sender = s.sender;
      t.limit = s.limit;
      return deliver_to_terminal(t, user, line, text) ? 0 : -1;
    }
  }
  return -1;
}

}  // namespace zibbet
