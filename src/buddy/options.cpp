// options.cpp - the option scanner over argument words.
#include "buddy/options.h"

#include <getopt.h>
#include <pwd.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "common/diag.h"

namespace zibbet {

arg_vector::arg_vector(std::vector<std::string> words) : words_(std::move(words)) {
  ptrs_.reserve(words_.size() + 1);
  for (std::string& w : words_) ptrs_.push_back(w.data());
  ptrs_.push_back(nullptr);
}

namespace {

constexpr const char* short_options = "ac:f:Fhi:m:nopqs:u:vw";

// Every entry reports its short letter; the order is the usage's, not
// alphabetical, and decides nothing but prefix ambiguity reports.
constexpr option long_options[] = {
    {"all-users", no_argument, nullptr, 'a'},
    {"exec-command", required_argument, nullptr, 'c'},
    {"help", no_argument, nullptr, 'h'},
    {"buddyfile", required_argument, nullptr, 'f'},
    {"no-buddyfile", no_argument, nullptr, 'F'},
    {"interval", required_argument, nullptr, 'i'},
    {"message", required_argument, nullptr, 'm'},
    {"no-newline", no_argument, nullptr, 'n'},
    {"process-once", no_argument, nullptr, 'o'},
    {"process-current", no_argument, nullptr, 'p'},
    {"silent", no_argument, nullptr, 'q'},
    {"status-message", required_argument, nullptr, 's'},
    {"users", required_argument, nullptr, 'u'},
    {"version", no_argument, nullptr, 'v'},
    {"write-buddies", no_argument, nullptr, 'w'},
    {nullptr, 0, nullptr, 0},
};

// default_buddyfile - $HOME/.zibbet; without HOME, the home directory of
// the real user's password entry; absent when neither is known.
std::optional<std::string> default_buddyfile() {
  if (const char* home = std::getenv("HOME")) return std::string(home) + "/.zibbet";
  if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr)
    return std::string(pw->pw_dir) + "/.zibbet";
  return std::nullopt;
}

}  // namespace

std::string posix_basename(std::string_view path) {
  if (path.empty()) return ".";
  std::size_t end = path.find_last_not_of('/');
  if (end == std::string_view::npos) return "/";
  path = path.substr(0, end + 1);
  std::size_t slash = path.rfind('/');
  if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
  return std::string(path);
}

std::uint32_t convert_interval(const char* text, bool& bad) {
  bad = false;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (std::isspace(*p) != 0) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  constexpr std::uint64_t limit = 0x7fffffffU;
  std::uint64_t value = 0;
  bool too_big = false;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + static_cast<std::uint64_t>(*p - '0');
    if (value > limit) {
      too_big = true;
      value = limit + 1;  // keep it bounded while the digits run on
    }
  }
  if (too_big || (negative && value != 0)) {
    bad = true;
    return 1;
  }
  return static_cast<std::uint32_t>(value);
}

parse_outcome parse_options(int argc, char** argv, options& out) {
  optind = 0;  // glibc: start a fresh scan of this vector
  // argv[0] may point into the record's old prog_name: read it first.
  std::string prog_name = posix_basename(argv[0] != nullptr ? argv[0] : "");
  out = options{};
  out.prog_name = std::move(prog_name);
  // getopt_long names the program from argv[0] in its diagnostics.
  argv[0] = out.prog_name.data();

  std::optional<std::string> message;
  std::optional<std::string> status_message;
  for (;;) {
    int c = getopt_long(argc, argv, short_options, long_options, nullptr);
    if (c == -1) break;
    switch (c) {
      case 'a': out.all_users = true; break;
      case 'c': out.exec_command = optarg; break;
      case 'f': out.buddyfile = optarg; break;
      case 'F': out.no_buddyfile = true; break;
      case 'h': return parse_outcome::help;
      case 'i': {
        bool bad = false;
        out.interval = convert_interval(optarg, bad);
        if (bad) {
          // A buddy's words start with the run's own name, so this names
          // the program either way.
          warn(out.prog_name, "warning: bad interval %s, using 1", optarg);
        }
        break;
      }
      case 'm': message = optarg; break;
      case 'n': out.no_newline = true; break;
      case 'o':
        out.process_once = true;
        out.process_current = true;
        break;
      case 'p': out.process_current = true; break;
      case 'q': out.write_buddies = false; break;
      case 's': status_message = optarg; break;
      case 'u': out.users = optarg; break;
      case 'v': return parse_outcome::version;
      case 'w': out.write_buddies = true; break;
      default: break;  // the scanner has already complained
    }
  }

  out.message = message ? std::move(*message) : default_message;
  out.status_message = status_message ? std::move(*status_message) : default_status_message;
  if (!out.buddyfile && !out.no_buddyfile) out.buddyfile = default_buddyfile();
  if (out.interval == 0) out.interval = 1;
  return parse_outcome::ok;
}

}  // namespace zibbet
