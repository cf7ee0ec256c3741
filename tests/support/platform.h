// platform.h - what differs between the platforms the tests run on: the
// wording of the C library's option scanner, and whether the tests run
// under a CPU emulator.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zibbet::test {

/// scanner_name - the name getopt_long puts before its complaints in this
/// test process when argv[0] names `argv0_name`: glibc takes argv[0],
/// FreeBSD the name this process was started with. A spawned program's
/// argv[0] names it on both, so its tests take the name as it is.
[[nodiscard]] std::string scanner_name(std::string_view argv0_name);

/// invalid_option - getopt_long's complaint about an unknown short option.
[[nodiscard]] std::string invalid_option(std::string_view prog, char option);

/// unrecognized_option - getopt_long's complaint about an unknown long
/// option `word` (with its dashes).
[[nodiscard]] std::string unrecognized_option(std::string_view prog, std::string_view word);

/// missing_argument - getopt_long's complaint about a short option whose
/// value is missing.
[[nodiscard]] std::string missing_argument(std::string_view prog, char option);

/// ambiguous_option - getopt_long's complaint about a long option `word`
/// that abbreviates several: glibc lists them (`candidates`, each with its
/// dashes), FreeBSD does not.
[[nodiscard]] std::string ambiguous_option(std::string_view prog, std::string_view word,
                                           std::string_view candidates);

/// What a test needs that a CPU emulator (qemu-user) cannot give it.
enum class emulation_need {
  /// To start the zibbet binary or a tool of the tree: they are built for
  /// the emulated CPU, and the host starts them only through the emulator.
  program_start,
  /// To preload the host's nss_wrapper into a program of the emulated CPU.
  host_preload,
  /// To package the binary with the host's dpkg tools, install it and run it.
  package,
  /// That a child whose /proc state is Z can be collected at once: under
  /// the emulator every process has a thread of the emulator's own, and a
  /// child's first thread shows as ended before the whole child has.
  collectable_zombies,
  /// To read the test process's own /proc/self/stat as the kernel writes
  /// it: the emulator writes that file itself, with fields of its own.
  own_proc_stat,
};

/// skip_reason_under_emulation - why a test that needs `need` cannot run,
/// when the tests run under a CPU emulator (scripts/cross-test sets
/// ZIBBET_UNDER_EMULATION=1); nothing otherwise. A test's first line:
///   if (auto why = skip_reason_under_emulation(...)) GTEST_SKIP() << *why;
[[nodiscard]] std::optional<std::string> skip_reason_under_emulation(emulation_need need);

}  // namespace zibbet::test
