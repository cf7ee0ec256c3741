// bench_support.h - what the benchmarks share: a scratch folder, running
// a program to its end, and the names the fixtures use.
#pragma once

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

}  // namespace zibbet::bench
