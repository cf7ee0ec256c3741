// scan.cpp - one pass over the login records: mark every login gone, match
// the records against the buddies, then notify and forget the gone ones.
#include "watch/scan.h"

#include <string_view>

#include "watch/login_records.h"
#include "watch/notify.h"
#include "watch/presence.h"

namespace zibbet {

namespace {

// The buddies a pass must visit are those with logins. The scan alone
// makes presences, so it keeps exactly those buddies marked in the buddy
// table: marked when a first login is seen, unmarked once the last one is
// gone. A pass then costs nothing for the buddies who are not logged in.

// mark_all_gone - phase 1: every presence of every buddy is PRESENCE_GONE
// until a record of this pass is seen for it. Order does not matter here,
// so no snapshot is taken.
void mark_all_gone(const buddy_table& buddies) {
  ht_for_each_marked(buddies.table, [](void* item) {
    const buddy& b = *static_cast<const buddy*>(item);
    if (!b.presences) return;
    ht_for_each_unordered(b.presences->table,
                          [](void* p) { static_cast<presence*>(p)->state = PRESENCE_GONE; });
  });
}

// match_record - phase 2 for one record: a USER_PROCESS record of a buddy
// marks that buddy's presence on its line seen, or makes a new one. The
// lookup keys are views into the live record; only a new presence copies it.
void match_record(const utmpx& record, void* ctx) {
  if (record.ut_type != USER_PROCESS) return;
  auto& buddies = *static_cast<buddy_table*>(ctx);
  buddy* b = buddies.find(utmpx_user(record));
  if (b == nullptr) return;
  if (b->presences) {
    if (presence* p = b->presences->find(utmpx_line(record))) {
      p->state = PRESENCE_SEEN;  // its copy keeps the first record
      return;
    }
  }
  presence_table& presences = presences_of(*b);
  if (presences.insert(presence_new(record)) != nullptr && presences.item_count() == 1)
    (void)ht_mark(b->name, buddies.table);
}

// notify_and_forget - phase 3: every presence in snapshot order is
// notified, and a gone one is removed after its notification. The marked
// buddies come in the buddy table's snapshot order.
void notify_and_forget(buddy_table& buddies, std::int16_t greet_mode) {
  for (void* item : ht_marked_items(buddies.table)) {
    buddy* b = static_cast<buddy*>(item);
    if (!b->presences) continue;
    presence_table& presences = *b->presences;
    for (void* login : ht_items(presences.table)) {
      presence* p = static_cast<presence*>(login);
      notify_buddy(*b, *p, greet_mode);
      // The key is read before the presence (and its record) is destroyed.
      if (p->state == PRESENCE_GONE) presences.erase(utmpx_line(*p->entry));
    }
    if (presences.item_count() == 0) ht_unmark(b->name, buddies.table);
  }
}

}  // namespace

void scan_logins(buddy_table& buddies, std::int16_t greet_mode) {
  mark_all_gone(buddies);
  read_login_records(login_records_file(), match_record, &buddies);
  notify_and_forget(buddies, greet_mode);
}

}  // namespace zibbet
