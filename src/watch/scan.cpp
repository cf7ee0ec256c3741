// scan.cpp - one pass over the login records: mark every login gone, match
// the records against the buddies, then notify and forget the gone ones.
#include "watch/scan.h"

#include <string_view>

#include "common/login_record.h"
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

// match_record - phase 2 for one record: a USER_PROCESS record of a buddy
// marks that buddy's presence on its line seen, or makes a new one. The
// lookup keys are views into the live record; only a new presence copies it.
void match_record(buddy_table& buddies, const utmpx& record) {
  if (record.ut_type != USER_PROCESS) return;
  buddy* b = buddies.find(utmpx_user(record));
  if (b == nullptr) return;
  if (b->presences) {
    if (presence* p = b->presences->find(utmpx_line(record))) {
      p->state = PRESENCE_SEEN;  // its copy keeps the first record
      return;
    }
  }
  presence_table& presences = presences_of(*b);
  if (presences.insert(presence{record, PRESENCE_NEW}) != nullptr && presences.size() == 1)
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
void notify_and_forget(buddy_table& buddies, watch_context& ctx, std::int16_t greet_mode) {
  for (buddy* b : buddies.marked_items()) {
    presence_table& presences = presences_of(*b);
    if (all_seen(presences)) {
      // Nothing to report: a seen login's notification only collects
      // ended command children, once is as good as many times.
      reap_children(ctx);
      continue;
    }
    for (presence* p : presences.items()) {
      notify_buddy(ctx, *b, *p, greet_mode);
      if (p->state == PRESENCE_GONE) presences.erase(presence_key(*p));
    }
    if (presences.size() == 0) buddies.unmark(b->name);
  }
}

}  // namespace

void scan_logins(buddy_table& buddies, login_source& source, watch_context& ctx,
                 std::int16_t greet_mode) {
  mark_all_gone(buddies);
  auto match = [&buddies](const utmpx& record) { match_record(buddies, record); };
  source.read(match);
  notify_and_forget(buddies, ctx, greet_mode);
}

}  // namespace zibbet
