// session_terminals_bench.cpp - finding the terminals of logind sessions
// through their scope cgroups, beside the floor: reading each scope's
// cgroup.procs and each member's /proc/PID/stat once. As root, with a
// writable cgroup2 hierarchy (the cases skip themselves otherwise).
// Each session is 5 real processes of uid 2000 in
// user.slice/user-2000.slice/session-97NN.scope: one on a pseudo-terminal
// with 2 sharers of it, one on another with 1 sharer, so 2 terminals.
// "others" are sleeping children of this process outside any session,
// started for the case and killed after it: a call must not cost more
// for them. BM_proc_walk is what a walk over all of /proc costs at the
// least (each process's stat opened and read), for comparison.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "logins/session_terminals.h"
#include "support/logind_host.h"

namespace zibbet::bench {
namespace {

constexpr uid_t bench_uid = 2000;

// The sessions of a case: their folders, made before their processes and
// removed after them.
struct sessions {
  std::vector<std::string> ids;
  std::vector<std::string> procs_files;  // each scope's cgroup.procs
  std::vector<std::unique_ptr<test::session_scope>> scopes;
  std::vector<std::unique_ptr<test::session_process>> processes;
  std::string error;

  explicit sessions(std::size_t count) {
    error = test::session_processes_unavailable();
    if (geteuid() != 0) error = "needs root";
    if (!error.empty()) return;
    test::session_process_options first;
    first.run_as = bench_uid;
    first.sharers = 2;
    test::session_process_options second = first;
    second.sharers = 1;
    for (std::size_t i = 0; i < count && error.empty(); ++i) {
      ids.push_back(std::to_string(9700 + i));
      scopes.push_back(std::make_unique<test::session_scope>(ids.back(), bench_uid));
      if (!scopes.back()->ok()) error = scopes.back()->error();
      procs_files.push_back(scopes.back()->path() + "/cgroup.procs");
      for (const auto& o : {first, second}) {
        processes.push_back(std::make_unique<test::session_process>(ids.back(), bench_uid, o));
        if (!processes.back()->ok()) error = processes.back()->error();
      }
    }
  }
  ~sessions() {
    processes.clear();
    while (!scopes.empty()) scopes.pop_back();
  }
  sessions(const sessions&) = delete;
  sessions& operator=(const sessions&) = delete;
};

// floor_pass - each scope's cgroup.procs read, and each member's stat
// opened and read once; returns the bytes read.
std::size_t floor_pass(const sessions& s) {
  return read_scope_members(s.procs_files);
}

// walk_pass - every process's stat in /proc opened and read once.
std::size_t walk_pass() {
  std::size_t total = 0;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return 0;
  char path[48];
  char text[1024];
  while (const dirent* e = readdir(proc)) {
    if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
    std::snprintf(path, sizeof path, "%.20s/stat", e->d_name);
    int fd = openat(dirfd(proc), path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    ssize_t n = read(fd, text, sizeof text);
    close(fd);
    if (n > 0) total += static_cast<std::size_t>(n);
  }
  closedir(proc);
  return total;
}

double seconds_between(std::chrono::steady_clock::time_point a,
                       std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// The fixture of one case, kept while the same case runs again.
struct fixture {
  std::size_t others;
  std::size_t count;
  std::unique_ptr<crowd> children;
  std::unique_ptr<sessions> made;
};

fixture& fixture_for(std::size_t others, std::size_t count) {
  static std::unique_ptr<fixture> held;
  if (!held || held->others != others || held->count != count) {
    held.reset();
    held = std::make_unique<fixture>();
    held->others = others;
    held->count = count;
    held->made = std::make_unique<sessions>(count);
    held->children = std::make_unique<crowd>(others);
  }
  return *held;
}

// run_calls - times terminals() for every session of the case (manual
// time) and, right after, a floor pass over the same sessions; reports
// both and their ratio.
void run_calls(benchmark::State& state, std::size_t others, std::size_t count) {
  fixture& fx = fixture_for(others, count);
  if (!fx.made->error.empty()) {
    state.SkipWithError(fx.made->error.c_str());
    return;
  }
  if (!fx.children->error().empty()) {
    state.SkipWithError(fx.children->error().c_str());
    return;
  }
  session_terminal_finder finder;
  std::size_t lines = 0;
  for (const std::string& id : fx.made->ids) lines += finder.terminals(id, bench_uid).size();
  if (lines != 2 * count) {
    state.SkipWithError("a session did not show its 2 terminals");
    return;
  }
  double call_total = 0;
  double floor_total = 0;
  std::size_t passes = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    for (const std::string& id : fx.made->ids) {
      std::vector<std::string> found = finder.terminals(id, bench_uid);
      benchmark::DoNotOptimize(found.data());
    }
    auto t1 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(floor_pass(*fx.made));
    auto t2 = std::chrono::steady_clock::now();
    state.SetIterationTime(seconds_between(t0, t1));
    call_total += seconds_between(t0, t1);
    floor_total += seconds_between(t1, t2);
    ++passes;
  }
  if (passes == 0) return;
  double floor_mean = floor_total / static_cast<double>(passes);
  state.counters["floor_us"] = floor_mean * 1e6;
  state.counters["pass/floor"] = floor_mean > 0 ? call_total / floor_total : 0;
  state.counters["others"] = static_cast<double>(fx.children->size());
  state.SetItemsProcessed(static_cast<std::int64_t>(passes * count));
}

void BM_session_terminals(benchmark::State& state) {
  run_calls(state, static_cast<std::size_t>(state.range(0)), 1);
}

void BM_session_terminals_many(benchmark::State& state) {
  run_calls(state, 0, static_cast<std::size_t>(state.range(0)));
}

void BM_proc_walk(benchmark::State& state) {
  crowd children(static_cast<std::size_t>(state.range(0)));
  if (!children.error().empty()) {
    state.SkipWithError(children.error().c_str());
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(walk_pass());
}

BENCHMARK(BM_session_terminals)
    ->ArgNames({"others"})
    ->Arg(0)
    ->Arg(5000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_session_terminals_many)
    ->ArgNames({"sessions"})
    ->Arg(100)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_proc_walk)->ArgNames({"others"})->Arg(0)->Arg(5000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace zibbet::bench
