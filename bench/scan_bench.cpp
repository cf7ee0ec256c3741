// scan_bench.cpp - one pass of scan_logins over N login records for B
// buddies, beside the floor: one read of the same file and a lookup of
// every user in a std::unordered_map. Half the records belong to buddies.
// "steady" passes see the same file each time; "churn" passes alternate
// between two files that differ in 1 % of the records (each pass, 1 % of
// the logins go and as many come). Status lines go to /dev/null.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "bench_support.h"
#include "buddy/buddy.h"
#include "logins/utmp_source.h"
#include "output/host_actions.h"
#include "support/context.h"
#include "support/process.h"
#include "support/records.h"
#include "watch/scan.h"

namespace zibbet::bench {
namespace {

// The records, the buddies and the floor's map of one (N, B) case.
struct pass_fixture {
  std::size_t records;
  std::size_t buddy_count;
  scratch_dir dir;
  std::string steady = dir / "utmp";
  std::string churned = dir / "utmp.churn";
  notice_book book{notice_of(test::test_options())};
  buddy_table buddies;
  std::unordered_map<std::string, int> floor_map;

  pass_fixture(std::size_t n, std::size_t b) : records(n), buddy_count(b) {
    std::vector<std::string> names;
    names.reserve(b);
    for (std::size_t i = 0; i < b; ++i) {
      names.push_back(fixed_name("bud", i, 5));
      buddies.insert(buddy{names.back(), nullptr, book.run()});
      floor_map.emplace(names.back(), 1);
    }
    // Even records are buddies' logins, spread over the buddies in turn;
    // odd ones belong to users nobody watches. Every line is its own.
    std::vector<utmpx> steady_records;
    std::vector<utmpx> churned_records;
    // One record in a hundred, always a buddy's login, moves to a new line.
    std::size_t churn_every = 100;
    for (std::size_t i = 0; i < n; ++i) {
      bool ours = i % 2 == 0;
      test::login l{ours ? names[(i / 2) % b] : fixed_name("gst", i / 2, 5),
                    fixed_name("tty", i, 5), "", USER_PROCESS};
      steady_records.push_back(test::make_record(l));
      if (ours && (i / 2) % (churn_every / 2) == 0) l.line = fixed_name("ttz", i, 5);
      churned_records.push_back(test::make_record(l));
    }
    test::write_raw_records(steady, steady_records);
    test::write_raw_records(churned, churned_records);
  }
};

// fixture_for - the fixture of (n, b), kept while the same case is run
// again (the library calls a benchmark several times).
pass_fixture& fixture_for(std::size_t n, std::size_t b) {
  static std::unique_ptr<pass_fixture> held;
  if (!held || held->records != n || held->buddy_count != b) {
    held.reset();
    held = std::make_unique<pass_fixture>(n, b);
  }
  return *held;
}

// floor_pass - the least a pass can cost: one read of the records file
// and a hash lookup of every login's user. Returns the number of hits.
std::size_t floor_pass(const char* path, std::vector<utmpx>& buf,
                       const std::unordered_map<std::string, int>& users) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat st {};
  fstat(fd, &st);
  std::size_t want = static_cast<std::size_t>(st.st_size) / sizeof(utmpx) + 1;
  if (buf.size() < want) buf.resize(want);
  ssize_t got = read(fd, buf.data(), want * sizeof(utmpx));
  close(fd);
  std::size_t hits = 0;
  std::size_t count = got > 0 ? static_cast<std::size_t>(got) / sizeof(utmpx) : 0;
  for (std::size_t i = 0; i < count; ++i) {
    const utmpx& r = buf[i];
    if (r.ut_type != USER_PROCESS) continue;
    std::string user(r.ut_user, strnlen(r.ut_user, sizeof r.ut_user));
    hits += users.count(user);
  }
  return hits;
}

double seconds_between(std::chrono::steady_clock::time_point a,
                       std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// run_passes - times passes (manual time: the pass alone) with a floor
// run measured right after each, and reports both and their ratio.
void run_passes(benchmark::State& state, bool churn) {
  auto n = static_cast<std::size_t>(state.range(0));
  auto b = static_cast<std::size_t>(state.range(1));
  pass_fixture& fx = fixture_for(n, b);
  const watch_settings ws = test::test_watch();
  host_actions out(greeting_settings{"zibbet_bench", "", false, std::chrono::seconds(10),
                                     greeting_delivery::write_utility});
  records_file_source steady(fx.steady);
  records_file_source churned(fx.churned);

  std::vector<utmpx> floor_buf;
  double pass_total = 0;
  double floor_total = 0;
  std::size_t passes = 0;
  {
    test::fd_capture quiet;
    // The state every timed pass starts from: the steady file, all known.
    scan_logins(fx.buddies, steady, ws, false, out);
    scan_logins(fx.buddies, steady, ws, true, out);
    for (auto _ : state) {
      const bool churned_pass = churn && passes % 2 == 0;
      const std::string& path = churned_pass ? fx.churned : fx.steady;
      login_source& source = churned_pass ? static_cast<login_source&>(churned) : steady;
      auto t0 = std::chrono::steady_clock::now();
      scan_logins(fx.buddies, source, ws, true, out);
      auto t1 = std::chrono::steady_clock::now();
      benchmark::DoNotOptimize(floor_pass(path.c_str(), floor_buf, fx.floor_map));
      auto t2 = std::chrono::steady_clock::now();
      state.SetIterationTime(seconds_between(t0, t1));
      pass_total += seconds_between(t0, t1);
      floor_total += seconds_between(t1, t2);
      ++passes;
    }
  }
  if (passes == 0) return;
  state.counters["floor_us"] = floor_total / static_cast<double>(passes) * 1e6;
  state.counters["pass/floor"] = floor_total > 0 ? pass_total / floor_total : 0;
  state.SetItemsProcessed(static_cast<std::int64_t>(passes * n));
}

void BM_pass_steady(benchmark::State& state) {
  run_passes(state, false);
}
void BM_pass_churn(benchmark::State& state) {
  run_passes(state, true);
}

void pass_cases(benchmark::internal::Benchmark* b) {
  b->ArgNames({"N", "B"})->UseManualTime()->Unit(benchmark::kMicrosecond);
  for (std::int64_t n : {100, 1000, 10000, 100000})
    for (std::int64_t buddies : {10, 1000, 100000}) b->Args({n, buddies});
}

BENCHMARK(BM_pass_steady)->Apply(pass_cases);
BENCHMARK(BM_pass_churn)->Apply(pass_cases);

}  // namespace
}  // namespace zibbet::bench
