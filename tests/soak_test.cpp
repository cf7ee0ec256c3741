// soak_test.cpp - ten thousand passes of the login scan in one process over
// a records file whose logins churn, with a command now and then: open
// descriptors, heap in use and child processes must not grow.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "buddy/buddy.h"
#include "buddy/sources.h"
#include "logins/utmp_source.h"
#include "output/host_actions.h"
#include "support/context.h"
#include "support/harness.h"
#include "support/platform.h"
#include "support/process.h"
#include "support/records.h"
#include "watch/scan.h"

#if defined(__SANITIZE_ADDRESS__)
#define ZIBBET_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZIBBET_ASAN 1
#endif
#endif
#ifdef ZIBBET_ASAN
// The sanitizer runtime's own count of bytes in use (its header does not
// come with every compiler).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace zibbet {
namespace {

using test::login;
using test::make_record;

constexpr int buddy_count = 24;

// open_fds - the number of open descriptors of this process.
std::size_t open_fds() {
  std::size_t n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (const dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') ++n;
    }
    closedir(d);
  }
  return n;
}

// heap_in_use - bytes allocated and not yet released. Under AddressSanitizer
// malloc is the sanitizer's, and glibc's counters stand still, so its own
// count is asked instead.
std::size_t heap_in_use() {
#ifdef ZIBBET_ASAN
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

// running_children - how many of this process's children still run.
std::size_t running_children() {
  std::size_t n = 0;
  for (const test::child_process& c : test::children()) n += c.state != 'Z' ? 1 : 0;
  return n;
}

// churn - the records of one pass: every buddy comes and goes with a
// period of its own, some on a second line, between records of other
// types and of strangers; now and then the file ends in a cut record.
std::string churn(int pass) {
  std::vector<utmpx> recs;
  recs.push_back(make_record({"", "~", "", BOOT_TIME}));
  for (int i = 0; i < buddy_count; ++i) {
    const std::string name = "u" + std::to_string(i);
    if (i == 0 || ((pass >> (i % 6)) & 1) != 0)
      recs.push_back(make_record({name, "pts/" + std::to_string(i), "h" + std::to_string(pass)}));
    if (i % 4 == 0 && (pass / 3) % 2 == 0)
      recs.push_back(make_record({name, "tty" + std::to_string(i), ""}));
    if (i % 5 == 0)
      recs.push_back(make_record({name, "pts/9" + std::to_string(i), "", DEAD_PROCESS}));
  }
  recs.push_back(make_record({"stranger", "pts/99", "elsewhere"}));
  if (pass % 250 == 0) recs.push_back(make_record({"cmd", "pts/77", ""}));
  std::string bytes(reinterpret_cast<const char*>(recs.data()), recs.size() * sizeof(utmpx));
  if (pass % 7 == 0) bytes.append(bytes.data(), sizeof(utmpx) / 2);
  return bytes;
}

// write_atomically - the records file replaced by rename, as a login
// daemon's writer might.
void write_atomically(const std::string& path, const std::string& bytes) {
  std::string tmp = path + ".tmp";
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(fd);
  ASSERT_EQ(std::rename(tmp.c_str(), path.c_str()), 0);
}

struct sample {
  std::size_t fds = 0;
  std::size_t heap = 0;
  std::size_t children = 0;
};

TEST(Soak, TenThousandPassesLeakNothing) {
  if (auto why = test::skip_reason_under_emulation(test::emulation_need::collectable_zombies))
    GTEST_SKIP() << *why;
  options run = test::test_options();
  run.status_message = "%b %o %l from %h";
  run.message = "hi %b";
  notice_book book(notice_of(run));
  const watch_settings ws = test::test_watch("me");
  host_actions actions(greeting_settings{"zibbet", "me", false, std::chrono::seconds(10),
                                         greeting_delivery::write_utility});

  test::temp_dir dir;
  const std::string records = dir / "utmp";
  records_file_source source(records);

  buddy_table buddies;
  for (int i = 0; i < buddy_count; ++i)
    buddies.insert(buddy{"u" + std::to_string(i), nullptr, book.run()});
  // One buddy runs a command (and has a status template of its own) each
  // time it logs in, every 250 passes.
  std::optional<buddy> cmd = parse_buddy_line("cmd:-c true -s '%b %o'\n", run.prog_name, book).made;
  ASSERT_TRUE(cmd.has_value());
  buddies.insert(std::move(*cmd));
  ASSERT_EQ(buddies.size(), static_cast<std::size_t>(buddy_count + 1));

  // settle - lets the last command end, then runs one more pass, after
  // which it is collected, and takes the figures.
  int pass = 0;
  auto settle_and_sample = [&] {
    sample s;
    EXPECT_TRUE(test::wait_until([] { return running_children() == 0; }));
    write_atomically(records, churn(++pass));
    scan_logins(buddies, source, ws, true, actions);
    actions.reap();
    s.fds = open_fds();
    s.heap = heap_in_use();
    s.children = test::children().size();
    return s;
  };

  // The churn repeats every 1344 passes (64, 6 and 7 divide it), so the
  // heap is compared at two points that hold the same logins.
  constexpr int first = 1000;
  constexpr int second = first + 6 * 1344;
  sample early;
  sample same_phase;
  sample last;
  {
    test::fd_capture quiet;
    while (pass < 10000) {
      write_atomically(records, churn(++pass));
      scan_logins(buddies, source, ws, true, actions);
      actions.reap();
      if (pass == first) early = settle_and_sample();
      if (pass == second) same_phase = settle_and_sample();
    }
    last = settle_and_sample();
  }
  EXPECT_GE(pass, 10000);
  for (const sample* s : {&same_phase, &last}) {
    EXPECT_EQ(s->fds, early.fds);
    EXPECT_EQ(s->children, 0U);
  }
  EXPECT_EQ(early.children, 0U);
  // Only rounding of containers may differ: a leak of a few bytes a pass
  // would show as tens of kilobytes.
  EXPECT_LE(same_phase.heap, early.heap + 4096)
      << "early " << early.heap << ", later " << same_phase.heap;
  // At the end the logins differ, by a few dozen records at most.
  EXPECT_LE(last.heap, early.heap + 32 * 1024) << "early " << early.heap << ", last " << last.heap;
}

}  // namespace
}  // namespace zibbet
