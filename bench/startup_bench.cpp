// startup_bench.cpp - the whole program's start-up over a buddy file of
// 100,000 names, `zibbet -o -s '' -f FILE` with ZIBBET_UTMP naming an
// empty records file, beside its floor: zibbet_startup_floor, a program
// that reads the same file with std::getline into a
// std::unordered_set<std::string>. Each run of zibbet is followed by a
// run of the floor, so that both see the same machine.
// With ZIBBET_BENCH_OTHER_BINARY naming another build of zibbet,
// BM_startup_buddyfile_other alternates runs of that build and of this
// one over the same files, for a paired comparison of two versions.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"

namespace zibbet::bench {
namespace {

// A buddy file of `buddies` names as the other fixtures make them, and an
// empty records file.
struct buddyfile_fixture {
  scratch_dir dir;
  std::string buddies = dir / "buddies";
  std::string records = dir / "utmp";
  std::vector<std::string> env;

  explicit buddyfile_fixture(std::size_t count) {
    std::string text;
    text.reserve(count * 8);
    for (std::size_t i = 0; i < count; ++i) text += fixed_name("u", i, 6) + "\n";
    write_file(buddies, text);
    write_file(records, "");
    env = inherited_env({"ZIBBET_UTMP=" + records});
  }

  [[nodiscard]] std::vector<std::string> argv(const std::string& binary) const {
    return {binary, "-o", "-s", "", "-f", buddies};
  }
};

double seconds_between(std::chrono::steady_clock::time_point a,
                       std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// timed_run - one run of `argv`; its wall time in seconds, or -1 when it
// failed.
double timed_run(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  auto t0 = std::chrono::steady_clock::now();
  int rc = run_quietly(argv, env);
  auto t1 = std::chrono::steady_clock::now();
  return rc == 0 ? seconds_between(t0, t1) : -1;
}

// run_paired - times `first` (the iteration's manual time) and, right
// after it, `second`, on every iteration; reports the mean of `second` as
// `counter` (ms) and the ratio of the totals as `ratio`.
void run_paired(benchmark::State& state, const buddyfile_fixture& fx,
                const std::vector<std::string>& first, const std::vector<std::string>& second,
                const char* counter, const char* ratio) {
  for (const auto* argv : {&first, &second}) {
    if (access((*argv)[0].c_str(), X_OK) != 0 || run_quietly(*argv, fx.env) != 0) {
      state.SkipWithError(("cannot run " + (*argv)[0]).c_str());
      return;
    }
  }
  double first_total = 0;
  double second_total = 0;
  std::size_t runs = 0;
  for (auto _ : state) {
    double a = timed_run(first, fx.env);
    double b = timed_run(second, fx.env);
    if (a < 0 || b < 0) {
      state.SkipWithError("a run failed");
      return;
    }
    state.SetIterationTime(a);
    first_total += a;
    second_total += b;
    ++runs;
  }
  if (runs == 0) return;
  state.counters[counter] = second_total / static_cast<double>(runs) * 1e3;
  state.counters[ratio] = second_total > 0 ? first_total / second_total : 0;
}

void BM_startup_buddyfile(benchmark::State& state) {
  buddyfile_fixture fx(static_cast<std::size_t>(state.range(0)));
  run_paired(state, fx, fx.argv(ZIBBET_BINARY), {ZIBBET_STARTUP_FLOOR, fx.buddies}, "floor_ms",
             "startup/floor");
}

void BM_startup_buddyfile_other(benchmark::State& state) {
  const char* other = std::getenv("ZIBBET_BENCH_OTHER_BINARY");
  if (other == nullptr || *other == '\0') {
    state.SkipWithError("ZIBBET_BENCH_OTHER_BINARY is not set");
    return;
  }
  buddyfile_fixture fx(static_cast<std::size_t>(state.range(0)));
  run_paired(state, fx, fx.argv(ZIBBET_BINARY), fx.argv(other), "other_ms", "this/other");
}

BENCHMARK(BM_startup_buddyfile)
    ->ArgName("buddies")
    ->Arg(100000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_startup_buddyfile_other)
    ->ArgName("buddies")
    ->Arg(100000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zibbet::bench
