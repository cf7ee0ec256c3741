// driver_e2e_test.cpp - the watcher ends like a filter when the reader of
// its standard output goes away.
#include <gtest/gtest.h>

#include "support/harness.h"
#include "support/platform.h"
#include "support/records.h"

namespace zibbet::test {
namespace {

TEST(DriverE2e, AReaderThatGoesAwayEndsThePollingWatcher) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  temp_dir dir;
  auto logins_from = [](int first) {
    std::vector<login> logins;
    for (int i = first; i < first + 200; ++i)
      logins.push_back({"alice", "pts/" + std::to_string(i), ""});
    return logins;
  };
  write_records(dir / "utmp", logins_from(0));
  run_options opts;
  opts.program = "/bin/sh";
  opts.args = {"-c", "ZIBBET_UTMP='" + (dir / "utmp") + "' '" + zibbet_binary() +
                         "' -F -u alice -i 1 | head -n 1; echo done"};
  live_process p(opts);
  // head leaves after its first line; every pass then prints (the logins
  // change each time), and the first write after that must end the watcher.
  bool ended = false;
  for (int round = 0; round < 40 && !ended; ++round) {
    // Every round's logins differ from every other round's, so whenever
    // a pass comes it has something to print.
    write_records(dir / "utmp", logins_from(200 * (round + 1)));
    ended = p.wait_exit(std::chrono::milliseconds(500));
  }
  EXPECT_TRUE(ended) << "the watcher kept running after its reader left";
  run_result r = p.stop();
  EXPECT_NE(r.out.find("alice logged on  pts/"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - 5), "done\n");
}

}  // namespace
}  // namespace zibbet::test
