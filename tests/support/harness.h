// harness.h - running the real zibbet binary (and other programs) from
// tests: arguments, environment and standard input in; standard output,
// standard error and the exit status out, always within a bounded wait.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace zibbet::test {

/// Path of the binary under test (build/zibbet of this build).
std::string zibbet_binary();
/// Folder of the record-writing tools of this build.
std::string tools_dir();
/// The source tree.
std::string source_dir();

/// What to run and how.
struct run_options {
  std::vector<std::string> args;  ///< argv[1..]; argv[0] is the program
  /// Environment changes on top of the test's own environment:
  /// "KEY=VALUE" sets, "KEY" alone unsets.
  std::vector<std::string> env;
  std::optional<std::string> stdin_data;     ///< nullopt: stdin is /dev/null
  bool stdout_pty = false;                   ///< give the program a pseudo-terminal as stdout
  std::chrono::milliseconds timeout{15000};  ///< then SIGKILL
  std::string program;                       ///< empty: zibbet_binary()
};

/// What came of it.
struct run_result {
  std::string out;         ///< standard output (a pty's "\r\n" left as is)
  std::string err;         ///< standard error
  int exit_code = -1;      ///< exit status, or -1 when ended by a signal
  int term_signal = 0;     ///< the signal that ended it, or 0
  bool timed_out = false;  ///< killed at the deadline
};

/// environment_with - this process's environment with `changes` made:
/// "KEY=VALUE" sets, "KEY" alone unsets.
std::vector<std::string> environment_with(const std::vector<std::string>& changes);

/// argv_pointers - the words as a null-terminated vector of pointers into
/// them, as execve wants them.
std::vector<char*> argv_pointers(std::vector<std::string>& words);

/// run - runs the program to its end (or its deadline). The binary under
/// test (an empty `program`) whose `env` names neither ZIBBET_UTMP nor
/// ZIBBET_SOURCE reads empty_records_file().
run_result run(const run_options& opts);

/// empty_records_file - a records file without records, made once.
const std::string& empty_records_file();

/// run_zibbet - run() of the binary under test with these arguments.
run_result run_zibbet(std::vector<std::string> args, std::vector<std::string> env = {},
                      std::optional<std::string> stdin_data = std::nullopt);

/// A program that keeps running (a polling watcher): its output is read
/// as it comes, and it is stopped by a signal.
class live_process {
 public:
  explicit live_process(const run_options& opts);
  ~live_process();
  live_process(const live_process&) = delete;
  live_process& operator=(const live_process&) = delete;

  /// Reads until standard output holds `text` (counted from the start),
  /// or the timeout passes. Returns whether it appeared.
  bool wait_for_output(const std::string& text,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10));
  /// Reads until standard error holds `text`, or the timeout passes.
  bool wait_for_error(const std::string& text,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10));
  /// Output and errors so far.
  [[nodiscard]] const std::string& out() const { return result_.out; }
  [[nodiscard]] const std::string& err() const { return result_.err; }
  [[nodiscard]] pid_t pid() const { return pid_; }

  /// Waits up to `timeout` for the program to end by itself and its
  /// streams to drain. Returns whether it ended.
  bool wait_exit(std::chrono::milliseconds timeout);

  /// Sends `sig` (SIGTERM by default), waits a bounded time for the end,
  /// then SIGKILL; returns everything read and the exit status.
  run_result stop(int sig = 15);

 private:
  bool pump(std::chrono::steady_clock::time_point deadline, const std::string* want_out,
            const std::string* want_err);
  pid_t pid_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  run_result result_;
  bool reaped_ = false;
};

/// A folder under /tmp that is removed, with everything in it, when the
/// object goes (also when an assertion fails).
class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;
  [[nodiscard]] const std::string& path() const { return path_; }
  /// Writes `content` to path()/name (made 0644) and returns the full path.
  std::string write_file(const std::string& name, const std::string& content) const;
  /// The full path of `name` inside the folder.
  [[nodiscard]] std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

/// read_file - the whole content of a file ("" when it cannot be read).
std::string read_file(const std::string& path);

/// preload - an "LD_PRELOAD=..." setting for the given libraries, with the
/// sanitizer runtime first when this build is sanitized.
std::string preload(const std::vector<std::string>& libs);

/// Paths of nss_wrapper and uid_wrapper; empty when not installed.
std::string nss_wrapper_lib();
std::string uid_wrapper_lib();

/// wait_until - polls `pred` every 10 ms until it holds or `timeout`
/// passes; returns its last value.
template <class Pred>
bool wait_until(Pred pred, std::chrono::milliseconds timeout = std::chrono::seconds(5));

}  // namespace zibbet::test

#include <thread>

template <class Pred>
bool zibbet::test::wait_until(Pred pred, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return pred();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}
