// notify.cpp - the decisions for a login that appeared or disappeared:
// which texts are expanded, and which of them are used.
#include "watch/notify.h"

#include <optional>
#include <string>

#include "watch/expand.h"

namespace zibbet {

void notify_buddy(const watch_settings& ws, const buddy& b, const presence& p, bool pass_may_greet,
                  actions& out) {
  if (p.state != PRESENCE_GONE && p.state != PRESENCE_NEW) return;
  const buddy_notice& n = *b.notice;

  // Every text is expanded before any is used, for a gone login too.
  std::optional<std::string> status = bud_expand_fmt(ws, &p, n.status_message.c_str());
  std::optional<std::string> greeting;
  if (pass_may_greet && n.may_greet) greeting = bud_expand_fmt(ws, &p, n.message.c_str());
  std::optional<std::string> command;
  if (n.exec_command)
    command = bud_expand_fmt(ws, &p, n.exec_command->c_str(), expand_use::command);

  if (status) out.print_status(*status);
  if (p.state != PRESENCE_NEW) return;
  if (greeting) out.greet(p.who.user, p.who.line, *greeting);
  if (command) out.run_command(*command);
}

}  // namespace zibbet
