// bench_support.h - what the benchmarks share: a scratch folder, running
// a program to its end, the names the fixtures use, and a crowd of other
// processes.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

#include "support/harness.h"

namespace zibbet::bench {

/// A fresh folder under /tmp, removed with its files when the object goes.
using scratch_dir = test::temp_dir;

/// run_quietly - runs argv[0] (a path) with `env` as its whole environment,
/// stdin, stdout and stderr on /dev/null, and waits for it. Returns its
/// exit status, or -1 when it could not be run or was killed.
int run_quietly(const std::vector<std::string>& argv, const std::vector<std::string>& env);

/// inherited_env - this process's environment plus `extra` ("KEY=VALUE",
/// replacing a variable of the same name).
[[nodiscard]] std::vector<std::string> inherited_env(const std::vector<std::string>& extra);

/// fixed_name - `prefix` followed by `i` in `digits` decimal digits: the
/// fixtures keep names and lines within 8 bytes, so that no two of them
/// agree in their first 8 bytes.
[[nodiscard]] std::string fixed_name(const char* prefix, std::size_t i, int digits);

/// write_file - writes `text` to `path`; false on failure.
bool write_file(const std::string& path, const std::string& text);

/// Sleeping children of this process, killed when the object goes (or
/// when this process dies, should it die first): the other processes of a
/// busy host.
class crowd {
 public:
  /// Starts `n` children; error() says why fewer were started.
  explicit crowd(std::size_t n);
  ~crowd();
  crowd(const crowd&) = delete;
  crowd& operator=(const crowd&) = delete;
  [[nodiscard]] std::size_t size() const { return pids_.size(); }
  [[nodiscard]] const std::string& error() const { return error_; }

 private:
  std::vector<pid_t> pids_;
  std::string error_;
};

/// read_scope_members - each cgroup.procs file read, and each member's
/// /proc/PID/stat opened and read once: the least a pass that finds the
/// terminals of sessions can do. Returns the bytes of the stat files.
[[nodiscard]] std::size_t read_scope_members(const std::vector<std::string>& procs_files);

/// heavy_cases - whether ZIBBET_BENCH_HEAVY=1 asks for the cases whose
/// fixtures take seconds to set up (thousands of processes).
[[nodiscard]] bool heavy_cases();

}  // namespace zibbet::bench
