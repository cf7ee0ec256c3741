// process_bench.cpp - the whole program, spawned again and again: the
// start-up of -a over a password database of 10 or 100,000 users (through
// nss_wrapper), and a one-shot run of -a over 10,000 login records beside
// `who FILE` reading the same file.
#include <benchmark/benchmark.h>
#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "support/records.h"

namespace zibbet::bench {
namespace {

const char* const nss_wrapper = "/usr/lib/x86_64-linux-gnu/libnss_wrapper.so";
const char* const who_binary = "/usr/bin/who";

// A password database of `users` entries (and root, so that the running
// user has a name), and an empty records file.
struct passwd_fixture {
  scratch_dir dir;
  std::vector<std::string> env;

  explicit passwd_fixture(std::size_t users) {
    std::string passwd = "root:x:0:0:root:/root:/bin/sh\n";
    for (std::size_t i = 0; i < users; ++i) {
      std::string name = fixed_name("u", i, 6);
      passwd += name + ":x:" + std::to_string(10000 + i) + ":100::/home/" + name + ":/bin/sh\n";
    }
    write_file(dir / "passwd", passwd);
    write_file(dir / "group", "root:x:0:\nusers:x:100:\n");
    write_file(dir / "utmp", "");
    env = inherited_env({std::string("LD_PRELOAD=") + nss_wrapper,
                         "NSS_WRAPPER_PASSWD=" + (dir / "passwd"),
                         "NSS_WRAPPER_GROUP=" + (dir / "group"), "ZIBBET_UTMP=" + (dir / "utmp")});
  }
};

void BM_startup_all_users(benchmark::State& state) {
  if (access(nss_wrapper, R_OK) != 0) {
    state.SkipWithError("nss_wrapper is not installed");
    return;
  }
  passwd_fixture fx(static_cast<std::size_t>(state.range(0)));
  std::vector<std::string> argv = {ZIBBET_BINARY, "-o", "-a"};
  if (run_quietly(argv, fx.env) != 0) {
    state.SkipWithError("zibbet -o -a failed");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(run_quietly(argv, fx.env));
}
BENCHMARK(BM_startup_all_users)
    ->ArgName("users")
    ->Arg(10)
    ->Arg(100000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// A records file of `n` logins, half of them of users of this machine's
// own password database (the buddies of -a), half of unknown users.
struct records_fixture {
  scratch_dir dir;
  std::string path = dir / "utmp";

  explicit records_fixture(std::size_t n) {
    std::vector<std::string> known;
    setpwent();
    while (const passwd* pw = getpwent()) known.emplace_back(pw->pw_name);
    endpwent();
    if (known.empty()) known.emplace_back("root");
    std::vector<test::login> logins;
    for (std::size_t i = 0; i < n; ++i) {
      std::string user = i % 2 == 0 ? known[(i / 2) % known.size()] : fixed_name("gst", i / 2, 5);
      logins.push_back({user, fixed_name("tty", i, 5), "host.example", USER_PROCESS});
    }
    test::write_records(path, logins);
  }
};

// run_program - BM body: spawns `argv` with `env` once per iteration.
void run_program(benchmark::State& state, const std::vector<std::string>& argv,
                 const std::vector<std::string>& env) {
  if (access(argv[0].c_str(), X_OK) != 0) {
    state.SkipWithError("program not found");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(run_quietly(argv, env));
}

void BM_process_zibbet_all_users(benchmark::State& state) {
  records_fixture fx(static_cast<std::size_t>(state.range(0)));
  run_program(state, {ZIBBET_BINARY, "-o", "-a"}, inherited_env({"ZIBBET_UTMP=" + fx.path}));
}

void BM_process_who(benchmark::State& state) {
  records_fixture fx(static_cast<std::size_t>(state.range(0)));
  run_program(state, {who_binary, fx.path}, inherited_env({}));
}

BENCHMARK(BM_process_zibbet_all_users)
    ->ArgName("N")
    ->Arg(10000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_process_who)->ArgName("N")->Arg(10000)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zibbet::bench
