// scan_quiet_test.cpp - a pass in which nothing changed: it prints, greets
// and runs nothing, keeps no memory, and allocates only its snapshots: as
// often with a thousand idle buddies and a thousand strangers' records as
// without them. Allocations are counted by a replaced operator new (which
// only counts while a pass is being measured).
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "buddy/buddy.h"
#include "logins/utmp_source.h"
#include "output/host_actions.h"
#include "support/context.h"
#include "support/harness.h"
#include "support/process.h"
#include "support/records.h"
#include "watch/scan.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
std::atomic<long> releases{0};

void* counted_alloc(std::size_t n) {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1);
  if (void* p = std::malloc(n != 0 ? n : 1)) return p;
  throw std::bad_alloc();
}
void counted_free(void* p) {
  if (p != nullptr && counting.load(std::memory_order_relaxed)) releases.fetch_add(1);
  std::free(p);
}
}  // namespace

void* operator new(std::size_t n) {
  return counted_alloc(n);
}
void* operator new[](std::size_t n) {
  return counted_alloc(n);
}
void operator delete(void* p) noexcept {
  counted_free(p);
}
void operator delete[](void* p) noexcept {
  counted_free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  counted_free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  counted_free(p);
}

namespace zibbet::test {
namespace {

// child_pids - this process's children, defunct ones included.
std::set<pid_t> child_pids() {
  std::set<pid_t> out;
  for (const child_process& c : children()) out.insert(c.pid);
  return out;
}

// numbered - a name unique in its first 8 bytes, longer than any string
// kept inside a std::string, so that a copy of it would allocate.
std::string numbered(const char* prefix, int n, const char* tail) {
  char head[16];
  std::snprintf(head, sizeof head, "%s%07d", prefix, n);
  return head + std::string(tail);
}

// What a quiet pass did.
struct quiet_pass {
  long allocations = 0;
  long kept = 0;  // allocations not released by the end of the pass
  std::string printed;
  bool forked = false;
};

class QuietPass : public ::testing::Test {
 protected:
  // steady - `logged_in` buddies with `lines` logins each, `idle` buddies
  // who never log in, `strangers` records of users nobody watches. After
  // a first pass has seen every login, measures a second pass over the
  // same file with greetings and a command switched on.
  quiet_pass steady(int logged_in, int lines, int idle, int strangers) {
    temp_dir dir;
    std::string records = dir / "utmp";
    buddy_table buddies;
    // The run's notice, switched to greetings and a command before the
    // pass that is measured.
    buddy_notice run_notice = notice_of(test_options());
    std::vector<login> logins;
    for (int b = 0; b < logged_in + idle; ++b) {
      std::string name = numbered("b", b, "-with-a-long-name");
      buddies.insert(buddy{name, nullptr, &run_notice});
      for (int l = 0; b < logged_in && l < lines; ++l)
        logins.push_back({name, numbered("l", l, "/a/long/line"), "host.example"});
    }
    for (int s = 0; s < strangers; ++s)
      logins.push_back({numbered("g", s, "-with-a-long-name"), numbered("t", s, "/line"), ""});
    write_records(records, logins);
    records_file_source source(records);
    const watch_settings ws = test_watch("me");
    host_actions actions(greeting_settings{"zibbet", "me", false, std::chrono::seconds(10),
                                           greeting_delivery::write_utility});

    quiet_pass out;
    fd_capture printed(1, dir / "stdout");
    scan_logins(buddies, source, ws, false, actions);
    std::size_t first_pass_output = printed.text().size();

    run_notice.may_greet = true;
    run_notice.exec_command = "echo ran >> " + (dir / "ran");
    std::set<pid_t> before = child_pids();
    allocations = 0;
    releases = 0;
    counting = true;
    scan_logins(buddies, source, ws, true, actions);
    counting = false;
    out.allocations = allocations;
    out.kept = allocations - releases;
    out.forked = child_pids() != before;
    out.printed = printed.text().substr(first_pass_output);
    return out;
  }
};

TEST_F(QuietPass, PrintsSendsRunsAndKeepsNothingAndAllocatesPerLoggedInBuddyOnly) {
  quiet_pass plain = steady(3, 2, 0, 0);
  EXPECT_EQ(plain.printed, "");
  EXPECT_FALSE(plain.forked);
  EXPECT_EQ(plain.kept, 0);
  // Snapshots only: the logged-in buddies, then each one's logins.
  EXPECT_GT(plain.allocations, 0);
  EXPECT_LE(plain.allocations, 3 * (1 + 3));

  struct {
    const char* name;
    int lines, idle, strangers;
  } cases[] = {
      {"a thousand idle buddies", 2, 1000, 0},
      {"a thousand strangers' records", 2, 0, 1000},
      {"forty logins per buddy", 40, 0, 0},
      {"all of it", 40, 1000, 1000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    quiet_pass p = steady(3, c.lines, c.idle, c.strangers);
    EXPECT_EQ(p.printed, "");
    EXPECT_FALSE(p.forked);
    EXPECT_EQ(p.kept, 0);
    EXPECT_EQ(p.allocations, plain.allocations);
  }
}

}  // namespace
}  // namespace zibbet::test
