// scan_test.cpp - scan_logins over real records files, pass after pass:
// which presences each buddy holds (and the record copy each keeps), and
// what the pass prints, in which order.
#include "watch/scan.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "buddy/buddy.h"
#include "logins/utmp_source.h"
#include "support/context.h"
#include "support/harness.h"
#include "support/process.h"
#include "support/recording_actions.h"
#include "support/records.h"

namespace zibbet::test {
namespace {

// One login in a short form: user, line, host, type.
login user(std::string u, std::string l, std::string h = "") {
  return {std::move(u), std::move(l), std::move(h), USER_PROCESS};
}
login other(std::string u, std::string l, short type) {
  return {std::move(u), std::move(l), "", type};
}

// describe - what the buddies hold after a pass, in snapshot order: one
// "user line state host" per presence, the host taken from its copy.
std::string describe(buddy_table& buddies) {
  std::string out;
  for (const buddy* b : buddies.items()) {
    if (!b->presences) continue;
    for (const presence* p : b->presences->items()) {
      const char* state = p->state == PRESENCE_NEW    ? "new"
                          : p->state == PRESENCE_SEEN ? "seen"
                                                      : "gone";
      out += b->name + " " + p->who.line + " " + state;
      if (!p->who.host.empty()) out += " " + p->who.host;
      out += "\n";
    }
  }
  return out;
}

class Scan : public ::testing::Test {
 protected:
  void SetUp() override {
    book_ = notice_book(buddy_notice{"%b %o %l from %h", "", std::nullopt, false});
    for (const char* name : {"alice", "bob"}) buddies_.insert(buddy{name, nullptr, book_.run()});
  }

  // pass - writes the records, runs one pass and returns what it printed.
  std::string pass(const std::vector<login>& logins) {
    write_records(records_, logins);
    recording_actions out;
    scan_logins(buddies_, source_, ws_, true, out);
    return out.statuses();
  }

  options run_ = test_options();
  notice_book book_{notice_of(run_)};
  watch_settings ws_ = test_watch("me");
  temp_dir dir_;
  std::string records_ = dir_ / "utmp";
  records_file_source source_{records_};
  buddy_table buddies_;
  int passes_ = 0;
};

// Each case is a run of passes; after each, the presences the buddies
// hold. Between passes only NEW and SEEN presences remain: gone ones are
// notified and removed within their pass.
TEST_F(Scan, PresencesFollowTheRecordsPassByPass) {
  struct step {
    std::vector<login> records;
    std::string held;
  };
  struct {
    const char* name;
    std::vector<step> passes;
  } cases[] = {
      {"new, then seen, then gone",
       {{{user("alice", "pts/3")}, "alice pts/3 new\n"},
        {{user("alice", "pts/3")}, "alice pts/3 seen\n"},
        {{}, ""}}},
      {"two lines, one ends (pts/1 before pts/0 by bucket)",
       {{{user("alice", "pts/0"), user("alice", "pts/1")}, "alice pts/1 new\nalice pts/0 new\n"},
        {{user("alice", "pts/0")}, "alice pts/0 seen\n"}}},
      {"a relogin on the same line keeps the first copy",
       {{{user("alice", "pts/3", "first.example")}, "alice pts/3 new first.example\n"},
        {{user("alice", "pts/3", "second.example")}, "alice pts/3 seen first.example\n"}}},
      {"two records on one line in one pass: one presence, seen, first copy",
       {{{user("alice", "pts/3", "one"), user("alice", "pts/3", "two")},
         "alice pts/3 seen one\n"}}},
      {"records of other types and of other users are ignored",
       {{{other("alice", "pts/1", DEAD_PROCESS), other("alice", "tty1", LOGIN_PROCESS),
          other("bob", "pts/2", INIT_PROCESS), user("carol", "pts/4"), user("alicia", "pts/5")},
         ""}}},
      {"alice before bob, whatever the file order",
       {{{user("bob", "pts/2"), user("alice", "pts/3")}, "alice pts/3 new\nbob pts/2 new\n"}}},
      {"a line taken over by another buddy",
       {{{user("alice", "pts/1")}, "alice pts/1 new\n"},
        {{user("bob", "pts/1")}, "bob pts/1 new\n"}}},
      {"a login that ended comes back as new",
       {{{user("alice", "pts/1")}, "alice pts/1 new\n"},
        {{}, ""},
        {{user("alice", "pts/1", "back")}, "alice pts/1 new back\n"}}},
      {"a line that fills its field is held whole",
       {{{user("bob", std::string(32, 'x')), user("bob", "pts/7")},
         "bob pts/7 new\nbob " + std::string(32, 'x') + " new\n"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    buddy_table fresh;
    for (const char* name : {"alice", "bob"}) fresh.insert(buddy{name, nullptr, book_.run()});
    std::swap(buddies_, fresh);
    int n = 0;
    for (const step& s : c.passes) {
      SCOPED_TRACE("pass " + std::to_string(++n));
      (void)pass(s.records);
      EXPECT_EQ(describe(buddies_), s.held);
    }
  }
}

TEST_F(Scan, AnEmptyOrMissingFileMakesEveryLoginGoneAndTheyComeBackAsNew) {
  const std::vector<login> both = {user("alice", "pts/1"), user("bob", "pts/2")};
  (void)pass(both);
  ASSERT_EQ(describe(buddies_), "alice pts/1 new\nbob pts/2 new\n");

  (void)pass({});  // empty file
  EXPECT_EQ(describe(buddies_), "");
  (void)pass(both);
  EXPECT_EQ(describe(buddies_), "alice pts/1 new\nbob pts/2 new\n");

  ASSERT_EQ(unlink(records_.c_str()), 0);  // missing file
  recording_actions out;
  scan_logins(buddies_, source_, ws_, true, out);
  EXPECT_EQ(describe(buddies_), "");
}

// Only buddies with logins are visited by a pass: a buddy whose last login
// is gone leaves the marked set, one with logins left stays in it.
TEST_F(Scan, ABuddyWhoseLastLoginIsGoneIsNoLongerVisited) {
  auto marked = [this] {
    std::string out;
    for (const buddy* b : buddies_.marked_items()) out += b->name + " ";
    return out;
  };
  (void)pass({user("alice", "pts/1"), user("alice", "pts/2"), user("bob", "pts/3")});
  EXPECT_EQ(marked(), "alice bob ");
  (void)pass({user("alice", "pts/2")});
  EXPECT_EQ(marked(), "alice ");
  (void)pass({});
  EXPECT_EQ(marked(), "");
  EXPECT_EQ(pass({user("bob", "pts/4")}), "bob logged on  pts/4    from localhost\n");
  EXPECT_EQ(marked(), "bob ");
}

TEST_F(Scan, ABuddyWhoNeverLogsInGetsNoPresenceTable) {
  (void)pass({user("alice", "pts/1"), other("bob", "pts/2", DEAD_PROCESS)});
  EXPECT_NE(buddies_.find("alice")->presences, nullptr);
  EXPECT_EQ(buddies_.find("bob")->presences, nullptr);
}

// What a pass prints: status lines for new and gone logins only, buddies in
// table order and each buddy's lines in its table order, gone, new and
// seen mixed as the snapshot has them.
TEST_F(Scan, StatusLinesComeInSnapshotOrderForNewAndGoneOnly) {
  EXPECT_EQ(pass({user("bob", "pts/2", "b.example"), user("alice", "pts/0"),
                  user("alice", "pts/1", "a.example")}),
            "alice logged on  pts/1    from a.example\n"
            "alice logged on  pts/0    from localhost\n"
            "bob logged on  pts/2    from b.example\n");
  // Nothing changed: nothing printed.
  EXPECT_EQ(pass({user("bob", "pts/2", "b.example"), user("alice", "pts/0"),
                  user("alice", "pts/1", "a.example")}),
            "");
  // alice leaves pts/1 and a relogin on pts/0 stays silent; bob leaves and
  // comes back on another line. A gone login shows its own copy's host.
  EXPECT_EQ(pass({user("alice", "pts/0", "elsewhere"), user("bob", "pts/9")}),
            "alice logged off pts/1    from a.example\n"
            "bob logged on  pts/9    from localhost\n"
            "bob logged off pts/2    from b.example\n");
  EXPECT_EQ(pass({}),
            "alice logged off pts/0    from localhost\n"
            "bob logged off pts/9    from localhost\n");
}

TEST_F(Scan, ALoginFirstSeenThroughTwoRecordsIsNeverReportedAsNew) {
  EXPECT_EQ(pass({user("alice", "pts/3"), user("alice", "pts/3")}), "");
  EXPECT_EQ(pass({}), "alice logged off pts/3    from localhost\n");
}

}  // namespace
}  // namespace zibbet::test
