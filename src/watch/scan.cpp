// scan.cpp - one pass over the logins: mark every login gone, match
// the logins against the buddies, then notify and forget the gone ones.
#include "watch/scan.h"

#include <string_view>

#include "watch/notify.h"

namespace zibbet {

namespace {

// The buddies a pass must visit are those with logins. The scan alone
// makes presences, so it keeps exactly those buddies marked in the buddy
// table: marked when a first login is seen, unmarked once the last one is
// gone. A pass then costs nothing for the buddies who are not logged in.

// mark_all_gone - phase 1: every login is PRESENCE_GONE until a record of
// this pass is seen for it.
void mark_all_gone(buddy_table& buddies) {
  buddies.for_each_marked([](buddy& b) {
    if (b.presences) b.presences->for_each([](presence& p) { p.state = PRESENCE_GONE; });
  });
}

// match_login - phase 2 for one login: a buddy's login marks that buddy's
// presence on its line seen, or makes a new one. The lookup keys are views
// into the source's login; only a new presence copies it.
void match_login(buddy_table& buddies, const login_view& seen) {
  buddy* b = buddies.find(seen.user);
  if (b == nullptr) return;
  if (b->presences) {
    if (presence* p = b->presences->find(seen.line)) {
      p->state = PRESENCE_SEEN;  // its copy keeps the first login
      return;
    }
  }
  presence_table& presences = presences_of(*b);
  if (presences.insert(presence{login(seen), PRESENCE_NEW}) != nullptr && presences.size() == 1)
    (void)buddies.mark(b->name);
}

// all_seen - whether every login of a buddy was seen before this pass.
bool all_seen(presence_table& presences) {
  bool seen = true;
  presences.for_each([&seen](const presence& p) { seen = seen && p.state == PRESENCE_SEEN; });
  return seen;
}

// notify_and_forget - phase 3: every login in snapshot order is notified,
// and a gone one is forgotten after its notification; a buddy whose last
// login is gone is unmarked.
void notify_and_forget(buddy_table& buddies, const watch_settings& ws, bool pass_may_greet,
                       actions& out) {
  for (buddy* b : buddies.marked_items()) {
    presence_table& presences = presences_of(*b);
    if (all_seen(presences)) continue;  // nothing to report
    for (presence* p : presences.items()) {
      notify_buddy(ws, *b, *p, pass_may_greet, out);
      if (p->state == PRESENCE_GONE) presences.erase(presence_key(*p));
    }
    if (presences.size() == 0) buddies.unmark(b->name);
  }
}

}  // namespace

void scan_logins(buddy_table& buddies, login_source& source, const watch_settings& ws,
                 bool pass_may_greet, actions& out) {
  mark_all_gone(buddies);
  auto match = [&buddies](const login_view& seen) { match_login(buddies, seen); };
  source.read(match);
  notify_and_forget(buddies, ws, pass_may_greet, out);
}

}  // namespace zibbet
