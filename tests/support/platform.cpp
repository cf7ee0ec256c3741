// platform.cpp - the option scanner's wording per C library, and the sign
// that the tests run emulated.
#include "support/platform.h"

#include <cstdlib>

#if defined(__FreeBSD__)
#include <stdlib.h>  // getprogname
#endif

namespace zibbet::test {

// scanner_name - argv[0] on glibc, the process's own name on FreeBSD.
std::string scanner_name(std::string_view argv0_name) {
#if defined(__GLIBC__)
  return std::string(argv0_name);
#elif defined(__FreeBSD__)
  (void)argv0_name;
  return getprogname();
#else
#error "the option scanner of this C library is not known to the tests"
#endif
}

// invalid_option - "prog: invalid option -- 'x'" on glibc, without the
// quotes on FreeBSD.
std::string invalid_option(std::string_view prog, char option) {
  std::string line(prog);
#if defined(__GLIBC__)
  line += ": invalid option -- '";
  line += option;
  line += "'\n";
#elif defined(__FreeBSD__)
  line += ": invalid option -- ";
  line += option;
  line += '\n';
#else
#error "the option scanner of this C library is not known to the tests"
#endif
  return line;
}

// unrecognized_option - "prog: unrecognized option '--bogus'" on glibc,
// quoted `--bogus' on FreeBSD.
std::string unrecognized_option(std::string_view prog, std::string_view word) {
  std::string line(prog);
#if defined(__GLIBC__)
  line += ": unrecognized option '";
#elif defined(__FreeBSD__)
  line += ": unrecognized option `";
#else
#error "the option scanner of this C library is not known to the tests"
#endif
  line += word;
  line += "'\n";
  return line;
}

// missing_argument - "prog: option requires an argument -- 'm'" on
// glibc, without the quotes on FreeBSD.
std::string missing_argument(std::string_view prog, char option) {
  std::string line(prog);
#if defined(__GLIBC__)
  line += ": option requires an argument -- '";
  line += option;
  line += "'\n";
#elif defined(__FreeBSD__)
  line += ": option requires an argument -- ";
  line += option;
  line += '\n';
#else
#error "the option scanner of this C library is not known to the tests"
#endif
  return line;
}

// ambiguous_option - glibc names the candidates after the word, FreeBSD
// only says that the word is ambiguous.
std::string ambiguous_option(std::string_view prog, std::string_view word,
                             std::string_view candidates) {
  std::string line(prog);
#if defined(__GLIBC__)
  line += ": option '";
  line += word;
  line += "' is ambiguous; possibilities: ";
  line += candidates;
  line += '\n';
#elif defined(__FreeBSD__)
  (void)candidates;
  line += ": option `";
  line += word;
  line += "' is ambiguous\n";
#else
#error "the option scanner of this C library is not known to the tests"
#endif
  return line;
}

// skip_reason_under_emulation - a reason only when ZIBBET_UNDER_EMULATION
// is 1.
std::optional<std::string> skip_reason_under_emulation(emulation_need need) {
  const char* flag = std::getenv("ZIBBET_UNDER_EMULATION");
  if (flag == nullptr || std::string_view(flag) != "1") return std::nullopt;
  std::string why = "under a CPU emulator (ZIBBET_UNDER_EMULATION=1): ";
  switch (need) {
    case emulation_need::program_start:
      return why +
             "starts a program built for the emulated CPU, which the host runs only "
             "through the emulator";
    case emulation_need::host_preload:
      return why +
             "starts a program built for the emulated CPU with the host's nss_wrapper "
             "preloaded";
    case emulation_need::package:
      return why + "packages the emulated CPU's binary with the host's dpkg tools and runs it";
    case emulation_need::collectable_zombies:
      return why +
             "counts children that show as ended in /proc, which the emulator's own thread "
             "keeps from being collected for a while";
    case emulation_need::own_proc_stat:
      return why +
             "reads its own /proc/self/stat, which the emulator writes with fields of its own";
  }
  return why + "needs what the emulator cannot give";
}

}  // namespace zibbet::test
