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
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
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
  explicit run_bound(const logind_fixture& fx) {
    error_ = own_mount_namespace();
    if (!error_.empty()) return;
    if (mount(fx.host.root().c_str(), "/run", nullptr, MS_BIND, nullptr) != 0) {
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

// floor_pass - opens and reads each session file once; returns the bytes.
std::size_t floor_pass(const logind_fixture& fx) {
  char buf[4096];
  std::size_t total = 0;
  for (const std::string& path : fx.paths) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    ssize_t got = read(fd, buf, sizeof buf);
    close(fd);
    if (got > 0) total += static_cast<std::size_t>(got) + static_cast<unsigned char>(buf[0]);
  }
  return total;
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
  run_bound on_run(fx);
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

}  // namespace
}  // namespace zibbet::bench

#endif  // ZIBBET_HAVE_LOGIND
