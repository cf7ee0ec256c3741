// logind_bench.cpp - a pass of the logind source over S sessions beside the
// floor: opening and reading each session file once. The benchmark process
// puts itself into a mount namespace of its own (private propagation) and
// binds a folder of session files onto /run there, so the real libsystemd
// reads them; /run is unmounted again when the case ends.
// "quiet" passes see nothing change; "churn" passes follow the replacement
// (by rename, as logind does) of 1 % of the sessions, at least one.
// "first" is a new source's first pass, which reads every session through
// the library; "listing" is what a pass without the folder's watch costs
// at the least: the library's list of sessions and a stat of each file.
// "terminalless" passes follow sessions without a TTY, whose terminals a
// pass finds through their scope cgroups: one such session among other
// sleeping processes against the same pass without it, and many against
// reading their files, member lists and members' stat once.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench_support.h"
#include "logins/logind_source.h"
#include "support/logind_host.h"

// Without libsystemd there is nothing to measure.
#if ZIBBET_HAVE_LOGIND

#include <systemd/sd-login.h>

namespace zibbet::bench {
namespace {

// own_mount_namespace - moves this process into a mount namespace of its
// own once; "" or why it could not.
const std::string& own_mount_namespace() {
  static const std::string why = [] {
    if (unshare(CLONE_NEWNS) != 0) return "unshare(CLONE_NEWNS): " + std::string(strerror(errno));
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      return "making / private: " + std::string(strerror(errno));
    return std::string();
  }();
  return why;
}

// The session files of one S.
struct logind_fixture {
  std::size_t count;
  test::logind_host host;
  std::vector<std::string> ids;
  std::vector<std::string> paths;
  std::size_t next_churn = 0;  // the next session to replace
  int churn_version = 0;

  explicit logind_fixture(std::size_t s) : count(s) {
    for (std::size_t i = 0; i < s; ++i) {
      ids.push_back(std::to_string(1000 + i));
      host.write_session(ids.back(), fields(i, 0));
      paths.push_back(host.sessions_dir() + "/" + ids.back());
    }
  }

  // A user session of uid 1 on a TTY of its own, as sshd or login makes it.
  static test::session_fields fields(std::size_t i, int version) {
    test::session_fields f;
    f.uid = 1;
    f.user = "daemon";
    f.tty = "pts/" + std::to_string(i);
    f.remote_host = "10.0." + std::to_string(version % 256) + "." + std::to_string(i % 256);
    f.service = "sshd";
    return f;
  }

  // churn - replaces 1 % of the sessions (at least one) by rename.
  void churn() {
    std::size_t k = count / 100 > 0 ? count / 100 : 1;
    ++churn_version;
    for (std::size_t j = 0; j < k; ++j) {
      std::size_t i = next_churn;
      next_churn = (next_churn + 1) % count;
      host.write_session(ids[i], fields(i, churn_version));
    }
  }
};

// The fixture's folder on /run of this process while the object lives, so
// that the other benchmarks see the /run they would see without it.
class run_bound {
 public:
  explicit run_bound(const std::string& root) {
    error_ = own_mount_namespace();
    if (!error_.empty()) return;
    if (mount(root.c_str(), "/run", nullptr, MS_BIND, nullptr) != 0) {
      error_ = "binding onto /run: " + std::string(strerror(errno));
      return;
    }
    bound_ = true;
    if (logind_support_here() != logind_support::available) error_ = "sd_booted() is not > 0";
  }
  ~run_bound() {
    if (bound_) umount2("/run", MNT_DETACH);
  }
  run_bound(const run_bound&) = delete;
  run_bound& operator=(const run_bound&) = delete;
  [[nodiscard]] const std::string& error() const { return error_; }

 private:
  std::string error_;
  bool bound_ = false;
};

// fixture_for - the fixture of S, kept while the same S is run again.
logind_fixture& fixture_for(std::size_t s) {
  static std::unique_ptr<logind_fixture> held;
  if (!held || held->count != s) {
    held.reset();
    held = std::make_unique<logind_fixture>(s);
  }
  return *held;
}

// read_files - opens and reads each file once; returns the bytes.
std::size_t read_files(const std::vector<std::string>& paths) {
  char buf[4096];
  std::size_t total = 0;
  for (const std::string& path : paths) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    ssize_t got = read(fd, buf, sizeof buf);
    close(fd);
    if (got > 0) total += static_cast<std::size_t>(got) + static_cast<unsigned char>(buf[0]);
  }
  return total;
}

// floor_pass - opens and reads each session file once; returns the bytes.
std::size_t floor_pass(const logind_fixture& fx) {
  return read_files(fx.paths);
}

// listing_pass - the library's list of the sessions and a stat of each.
std::size_t listing_pass() {
  char** ids = nullptr;
  int n = sd_get_sessions(&ids);
  int dir = open("/run/systemd/sessions", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::size_t total = 0;
  for (int i = 0; i < n; ++i) {
    struct stat st {};
    if (dir >= 0 && fstatat(dir, ids[i], &st, 0) == 0)
      total += static_cast<std::size_t>(st.st_size);
    std::free(ids[i]);
  }
  std::free(ids);
  if (dir >= 0) close(dir);
  return total;
}

double seconds_between(std::chrono::steady_clock::time_point a,
                       std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

enum class pass_kind { quiet, churn, first, listing };

// run_passes - times each pass (manual time) and, right after it, a floor
// pass: after every pass for the first 50, then after every 100th (a
// quiet pass takes a small part of a floor pass, and floors after each of
// them would make a run last minutes). Reports both and their ratio.
void run_passes(benchmark::State& state, pass_kind kind) {
  auto s = static_cast<std::size_t>(state.range(0));
  logind_fixture& fx = fixture_for(s);
  run_bound on_run(fx.host.root());
  if (!on_run.error().empty()) {
    state.SkipWithError(on_run.error().c_str());
    return;
  }
  std::size_t records = 0;
  auto sink = [&records](const login_view& l) { records += l.line.empty() ? 0 : 1; };
  std::string why;
  std::unique_ptr<login_source> source = make_logind_source(why);
  source->read(sink);  // all known: the state a quiet pass starts from
  records = 0;

  double pass_total = 0;
  double floor_total = 0;
  std::size_t passes = 0;
  std::size_t floors = 0;
  for (auto _ : state) {
    if (kind == pass_kind::churn) fx.churn();
    auto t0 = std::chrono::steady_clock::now();
    switch (kind) {
      case pass_kind::quiet:
      case pass_kind::churn: source->read(sink); break;
      case pass_kind::first: make_logind_source(why)->read(sink); break;
      case pass_kind::listing: benchmark::DoNotOptimize(listing_pass()); break;
    }
    auto t1 = std::chrono::steady_clock::now();
    state.SetIterationTime(seconds_between(t0, t1));
    pass_total += seconds_between(t0, t1);
    ++passes;
    if (floors < 50 || passes % 100 == 0) {
      benchmark::DoNotOptimize(floor_pass(fx));
      floor_total += seconds_between(t1, std::chrono::steady_clock::now());
      ++floors;
    }
  }
  if (passes == 0) return;
  if (kind != pass_kind::listing && records != passes * s)
    state.SkipWithError("a pass did not give one record per session");
  double floor_mean = floor_total / static_cast<double>(floors);
  state.counters["floor_us"] = floor_mean * 1e6;
  state.counters["pass/floor"] =
      floor_mean > 0 ? pass_total / static_cast<double>(passes) / floor_mean : 0;
  state.SetItemsProcessed(static_cast<std::int64_t>(passes * s));
}

void BM_logind_quiet(benchmark::State& state) {
  run_passes(state, pass_kind::quiet);
}
void BM_logind_churn(benchmark::State& state) {
  run_passes(state, pass_kind::churn);
}
void BM_logind_first(benchmark::State& state) {
  run_passes(state, pass_kind::first);
}
void BM_logind_listing(benchmark::State& state) {
  run_passes(state, pass_kind::listing);
}

void session_counts(benchmark::internal::Benchmark* b) {
  b->ArgNames({"S"})->UseManualTime()->Unit(benchmark::kMicrosecond);
  for (std::int64_t s : {10, 100, 1000}) b->Args({s});
}

BENCHMARK(BM_logind_quiet)->Apply(session_counts);
BENCHMARK(BM_logind_churn)->Apply(session_counts);
BENCHMARK(BM_logind_first)->Apply(session_counts);
BENCHMARK(BM_logind_listing)->Apply(session_counts);

// ---- Sessions without a TTY ----
// A session whose record names no TTY (a shared ssh connection, a remote
// command) is shown on every terminal of its processes, which each pass
// finds through the members of the session's scope cgroup. Each such
// session here is 5 real processes of uid 2001 in
// user.slice/user-1.slice/session-98NN.scope: one on a pseudo-terminal
// with 2 sharers of it, one on another with 1 sharer, so 2 logins. As
// root with a writable cgroup2 hierarchy; the cases skip themselves
// otherwise.

// daemon's uid: the source shows a session only under its user's name,
// which the library of Debian 12 leaves to the password database.
constexpr uid_t terminalless_uid = 1;

// The terminal-less sessions of a case, their scope folders (made before
// their processes and removed after them) and their session files.
struct terminalless_fixture {
  std::size_t count;
  test::logind_host host;
  std::vector<std::string> ids;
  std::vector<std::string> session_files;  // each session's file
  std::vector<std::string> procs_files;    // each scope's cgroup.procs
  std::vector<std::unique_ptr<test::session_scope>> scopes;
  std::vector<std::unique_ptr<test::session_process>> processes;
  std::string error;

  explicit terminalless_fixture(std::size_t n) : count(n) {
    if (geteuid() != 0) error = "needs root";
    if (error.empty()) error = test::session_processes_unavailable();
    if (!error.empty()) return;
    test::session_process_options first;
    first.run_as = terminalless_uid;
    first.sharers = 2;
    test::session_process_options second = first;
    second.sharers = 1;
    for (std::size_t i = 0; i < n && error.empty(); ++i) {
      ids.push_back(std::to_string(9800 + i));
      scopes.push_back(std::make_unique<test::session_scope>(ids.back(), terminalless_uid));
      if (!scopes.back()->ok()) error = scopes.back()->error();
      procs_files.push_back(scopes.back()->path() + "/cgroup.procs");
      session_files.push_back(host.sessions_dir() + "/" + ids.back());
      for (const auto& o : {first, second}) {
        processes.push_back(
            std::make_unique<test::session_process>(ids.back(), terminalless_uid, o));
        if (!processes.back()->ok()) error = processes.back()->error();
      }
    }
  }
  ~terminalless_fixture() {
    processes.clear();
    while (!scopes.empty()) scopes.pop_back();
  }
  terminalless_fixture(const terminalless_fixture&) = delete;
  terminalless_fixture& operator=(const terminalless_fixture&) = delete;

  // list - writes (or removes) every session's file: a ssh session
  // without a TTY.
  void list(bool listed) {
    for (std::size_t i = 0; i < ids.size(); ++i) {
      if (!listed) {
        host.remove_session(ids[i]);
        continue;
      }
      test::session_fields f;
      f.uid = terminalless_uid;
      f.user = "daemon";
      f.remote_host = "10.1.0." + std::to_string(i % 256);
      f.service = "sshd";
      host.write_session(ids[i], f);
    }
  }
};

// The processes and sessions of the case that runs, kept while the next
// case needs the same ones, and let go of when it needs others.
terminalless_fixture& terminalless_for(std::size_t count) {
  static std::unique_ptr<terminalless_fixture> held;
  if (!held || held->count != count) {
    held.reset();
    held = std::make_unique<terminalless_fixture>(count);
  }
  return *held;
}

crowd& others_for(std::size_t others) {
  static std::unique_ptr<crowd> held;
  if (!held || held->size() != others) {
    held.reset();
    held = std::make_unique<crowd>(others);
  }
  return *held;
}

// terminalless_floor - each session's file, each scope's cgroup.procs and
// each member's /proc/PID/stat opened and read once; returns the bytes.
std::size_t terminalless_floor(const terminalless_fixture& fx) {
  std::size_t total = read_files(fx.session_files);
  return total + read_scope_members(fx.procs_files);
}

// heavy_skip - true (and the case skipped with the reason) for a heavy
// case that ZIBBET_BENCH_HEAVY=1 did not ask for.
bool heavy_skip(benchmark::State& state, bool heavy) {
  if (!heavy || heavy_cases()) return false;
  state.SkipWithError("a heavy case: set ZIBBET_BENCH_HEAVY=1 to run it");
  return true;
}

// The mean quiet pass without the session, by the number of others, that
// the case with the session compares itself with.
std::vector<std::pair<std::size_t, double>>& passes_without() {
  static std::vector<std::pair<std::size_t, double>> means;
  return means;
}

// BM_logind_terminalless - quiet passes of the logind source while
// `others` sleeping processes run, with one terminal-less session listed
// (session:1) or its file absent (session:0). The case with the session
// reports its mean pass over the mean pass of the case without it, run
// just before with the same others ("pass/without"), and over the floor
// of its session (its file, its scope's member list and each member's
// stat read once), timed right after each pass ("pass/floor").
void BM_logind_terminalless(benchmark::State& state) {
  auto others = static_cast<std::size_t>(state.range(0));
  bool listed = state.range(1) != 0;
  if (heavy_skip(state, others > 1000)) return;
  terminalless_fixture& fx = terminalless_for(1);
  if (!fx.error.empty()) {
    state.SkipWithError(fx.error.c_str());
    return;
  }
  crowd& children = others_for(others);
  if (!children.error().empty()) {
    state.SkipWithError(children.error().c_str());
    return;
  }
  fx.list(listed);
  run_bound on_run(fx.host.root());
  if (!on_run.error().empty()) {
    state.SkipWithError(on_run.error().c_str());
    return;
  }
  std::size_t records = 0;
  auto sink = [&records](const login_view& l) { records += l.line.empty() ? 0 : 1; };
  std::string why;
  std::unique_ptr<login_source> source = make_logind_source(why);
  if (!source) {
    state.SkipWithError(why.c_str());
    return;
  }
  source->read(sink);  // all known: the state a quiet pass starts from
  if (records != (listed ? 2U : 0U)) {
    state.SkipWithError("the session did not show its 2 terminals");
    return;
  }
  records = 0;
  double total = 0;
  double floor_total = 0;
  std::size_t passes = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    source->read(sink);
    auto t1 = std::chrono::steady_clock::now();
    if (listed) benchmark::DoNotOptimize(terminalless_floor(fx));
    auto t2 = std::chrono::steady_clock::now();
    state.SetIterationTime(seconds_between(t0, t1));
    total += seconds_between(t0, t1);
    floor_total += seconds_between(t1, t2);
    ++passes;
  }
  if (passes == 0) return;
  if (records != passes * (listed ? 2 : 0)) state.SkipWithError("a pass lost a terminal");
  double mean = total / static_cast<double>(passes);
  state.counters["others"] = static_cast<double>(children.size());
  if (listed && floor_total > 0) {
    state.counters["floor_us"] = floor_total / static_cast<double>(passes) * 1e6;
    state.counters["pass/floor"] = total / floor_total;
  }
  auto& without = passes_without();
  if (!listed) {
    without.emplace_back(others, mean);
    return;
  }
  for (const auto& [n, base] : without) {
    if (n == others && base > 0) state.counters["pass/without"] = mean / base;
  }
}

// BM_logind_terminalless_many - quiet passes over S terminal-less
// sessions of 5 processes each, beside the floor: each session's file,
// each scope's member list and each member's stat read once, timed right
// after each pass.
void BM_logind_terminalless_many(benchmark::State& state) {
  auto count = static_cast<std::size_t>(state.range(0));
  if (heavy_skip(state, count > 10)) return;
  terminalless_fixture& fx = terminalless_for(count);
  if (!fx.error.empty()) {
    state.SkipWithError(fx.error.c_str());
    return;
  }
  (void)others_for(0);  // no crowd left from another case
  fx.list(true);
  run_bound on_run(fx.host.root());
  if (!on_run.error().empty()) {
    state.SkipWithError(on_run.error().c_str());
    return;
  }
  std::size_t records = 0;
  auto sink = [&records](const login_view& l) { records += l.line.empty() ? 0 : 1; };
  std::string why;
  std::unique_ptr<login_source> source = make_logind_source(why);
  if (!source) {
    state.SkipWithError(why.c_str());
    return;
  }
  source->read(sink);
  if (records != 2 * count) {
    state.SkipWithError("a session did not show its 2 terminals");
    return;
  }
  records = 0;
  double pass_total = 0;
  double floor_total = 0;
  std::size_t passes = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    source->read(sink);
    auto t1 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(terminalless_floor(fx));
    auto t2 = std::chrono::steady_clock::now();
    state.SetIterationTime(seconds_between(t0, t1));
    pass_total += seconds_between(t0, t1);
    floor_total += seconds_between(t1, t2);
    ++passes;
  }
  if (passes == 0) return;
  if (records != passes * 2 * count) state.SkipWithError("a pass lost a terminal");
  state.counters["floor_us"] = floor_total / static_cast<double>(passes) * 1e6;
  state.counters["pass/floor"] = floor_total > 0 ? pass_total / floor_total : 0;
  state.SetItemsProcessed(static_cast<std::int64_t>(passes * count));
}

// Without the session first, so that the case with it has its base.
BENCHMARK(BM_logind_terminalless)
    ->ArgNames({"others", "session"})
    ->Args({100, 0})
    ->Args({100, 1})
    ->Args({5000, 0})
    ->Args({5000, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_logind_terminalless_many)
    ->ArgNames({"sessions"})
    ->Arg(10)
    ->Arg(100)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace zibbet::bench

#endif  // ZIBBET_HAVE_LOGIND
