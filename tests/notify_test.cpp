// notify_test.cpp - what a login change decides: which status line,
// greeting and command it asks for, recorded instead of done.
#include "watch/notify.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/context.h"
#include "support/recording_actions.h"

namespace zibbet::test {
namespace {

using texts = std::vector<std::string>;

// A run whose templates are known, and alice's login on pts/3.
class Notify : public ::testing::Test {
 protected:
  Notify() {
    run_.status_message = "status %b %o";
    run_.message = "hi %b";
  }

  // buddy_with - alice with the run's notice, or with her own.
  buddy buddy_with(const buddy_notice* notice) { return buddy{"alice", nullptr, notice}; }

  // own_notice - a notice as a buddy's option words make it.
  const buddy_notice* own_notice(bool may_greet, std::optional<std::string> command = {}) {
    return book_.keep(buddy_notice{"own status %b", "own %b", std::move(command), may_greet});
  }

  // notify - notify_buddy for alice on pts/3, with the run's notice made
  // from run_ as it stands; what it asked for.
  texts notify(const buddy_notice* own, presence_state state, bool pass_may_greet) {
    run_notice_ = notice_of(run_);
    buddy b = buddy_with(own != nullptr ? own : &run_notice_);
    presence p{login("alice", "pts/3", ""), state};
    ws_.messaging = run_.write_buddies;
    notify_buddy(ws_, b, p, pass_may_greet, out_);
    return out_.take();
  }

  options run_ = test_options();
  buddy_notice run_notice_;
  notice_book book_{buddy_notice{}};
  watch_settings ws_ = test_watch("bob");
  recording_actions out_;
};

TEST_F(Notify, GreetingTable) {
  struct {
    const char* what;
    bool own_record;
    bool own_write;     // the buddy's own -w
    bool global_write;  // the command line's -w
    bool pass_may_greet;
    bool greeted;
  } cases[] = {
      {"global, first pass without -p", false, false, true, false, false},
      {"global, -q", false, false, false, true, false},
      {"global, -w", false, false, true, true, true},
      {"own record without -w, first pass", true, false, true, false, false},
      {"own record without -w, global -q", true, false, false, true, false},
      {"own record without -w, global -w", true, false, true, true, false},
      {"own -w, first pass without -p", true, true, false, false, false},
      {"own -w, global -q", true, true, false, true, true},
      {"own -w, global -w", true, true, true, true, true},
  };
  for (const auto& c : cases) {
    run_.write_buddies = c.global_write;
    const buddy_notice* own = c.own_record ? own_notice(c.own_write) : nullptr;
    texts got = notify(own, PRESENCE_NEW, c.pass_may_greet);
    texts want = {c.own_record ? "status:own status alice\n" : "status:status alice logged on \n"};
    if (c.greeted)
      want.push_back(c.own_record ? "greet:alice pts/3:own alice\n"
                                  : "greet:alice pts/3:hi alice\n");
    EXPECT_EQ(got, want) << c.what;
  }
}

TEST_F(Notify, OnlyTheRunsNoNewlineCounts) {
  ws_.no_newline = true;
  run_.write_buddies = true;
  EXPECT_EQ(notify(nullptr, PRESENCE_NEW, true),
            (texts{"status:status alice logged on ", "greet:alice pts/3:hi alice"}));

  // A buddy's own -n makes no notice of its own differ: the run's counts.
  ws_.no_newline = false;
  EXPECT_EQ(notify(own_notice(true), PRESENCE_NEW, true),
            (texts{"status:own status alice\n", "greet:alice pts/3:own alice\n"}));
}

TEST_F(Notify, SeenDoesNothingAndGoneOnlyPrintsItsStatus) {
  run_.write_buddies = true;
  run_.exec_command = "touch ran";
  const buddy_notice* own = own_notice(true, "touch ran");

  EXPECT_EQ(notify(nullptr, PRESENCE_SEEN, true), texts{});
  EXPECT_EQ(notify(own, PRESENCE_SEEN, true), texts{});
  EXPECT_EQ(notify(nullptr, PRESENCE_GONE, true), texts{"status:status alice logged off\n"});
  EXPECT_EQ(notify(own, PRESENCE_GONE, true), texts{"status:own status alice\n"});
}

TEST_F(Notify, CommandOfANewLoginComesAfterTheGreeting) {
  run_.write_buddies = true;
  run_.exec_command = "echo ran %b on %l";
  EXPECT_EQ(notify(nullptr, PRESENCE_NEW, true),
            (texts{"status:status alice logged on \n", "greet:alice pts/3:hi alice\n",
                   "run:echo ran alice on pts/3   \n"}));
  // Not greeted on a first pass, but the command runs all the same.
  EXPECT_EQ(notify(nullptr, PRESENCE_NEW, false),
            (texts{"status:status alice logged on \n", "run:echo ran alice on pts/3   \n"}));
}

TEST_F(Notify, ABuddysOwnNoticeNeverTakesTheRunsCommandOrTemplates) {
  run_.exec_command = "touch ran";
  run_.write_buddies = true;
  EXPECT_EQ(notify(own_notice(false), PRESENCE_NEW, true), texts{"status:own status alice\n"});
}

TEST_F(Notify, MessagingShowsTheRunsFlagWhateverTheBuddysOwn) {
  run_.status_message = "%m";
  run_.write_buddies = false;
  const buddy_notice* own = book_.keep(buddy_notice{"%m", "", std::nullopt, true});
  EXPECT_EQ(notify(own, PRESENCE_NEW, false), texts{"status:not messaging\n"});
  run_.write_buddies = true;
  EXPECT_EQ(notify(nullptr, PRESENCE_NEW, false), texts{"status:messaging\n"});
}

}  // namespace
}  // namespace zibbet::test
