// mkutmp.cpp - writes a login-record file for the demo and for trying the
// watcher on records of one's own choosing.
//
//   mkutmp FILE [USER:LINE[:HOST[:TYPE]]] ...
//
// Each argument after FILE is one record, in file order. TYPE is a name
// (user, login, dead, init, boot, empty) or a number, and defaults to user.
// A host with colons in it (an IPv6 address) needs the type after it: the
// text after the last colon of a record with four or more fields is the
// type. With no records, FILE is made empty. FILE is replaced atomically:
// the records go to a temporary file in the same folder, which is then
// renamed over FILE, so a reader never sees half a file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utmpx.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

const char* prog = "mkutmp";

// usage - prints how to call the tool and ends with status 2.
[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: %s FILE [USER:LINE[:HOST[:TYPE]]] ...\n"
               "  TYPE: user (default), login, dead, init, boot, empty, or a number\n",
               prog);
  std::exit(2);
}

// fill - copies `value` into a fixed-width field, zero-padded, cut to fit.
template <std::size_t N>
void fill(char (&field)[N], std::string_view value) {
  std::memset(field, 0, N);
  std::memcpy(field, value.data(), value.size() < N ? value.size() : N);
}

// parse_type - a record type from its name or number; nullopt when unknown.
std::optional<short> parse_type(std::string_view s) {
  struct named {
    const char* name;
    short type;
  };
  static const named names[] = {
      {"user", USER_PROCESS}, {"login", LOGIN_PROCESS}, {"dead", DEAD_PROCESS},
      {"init", INIT_PROCESS}, {"boot", BOOT_TIME},      {"empty", EMPTY},
  };
  for (const named& n : names)
    if (s == n.name) return n.type;
  if (s.empty() || s.size() > 4) return std::nullopt;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return static_cast<short>(v);
}

// parse_record - one record from USER:LINE[:HOST[:TYPE]]; nullopt when
// the argument is malformed.
std::optional<utmpx> parse_record(std::string_view arg, pid_t pid) {
  std::size_t c1 = arg.find(':');
  if (c1 == std::string_view::npos) return std::nullopt;
  std::string_view user = arg.substr(0, c1);
  std::string_view rest = arg.substr(c1 + 1);
  std::size_t c2 = rest.find(':');
  std::string_view line = rest.substr(0, c2);
  std::string_view host;
  short type = USER_PROCESS;
  if (c2 != std::string_view::npos) {
    host = rest.substr(c2 + 1);
    if (std::size_t c3 = host.rfind(':'); c3 != std::string_view::npos) {
      std::optional<short> t = parse_type(host.substr(c3 + 1));
      if (!t) return std::nullopt;
      type = *t;
      host = host.substr(0, c3);
    }
  }
  if (line.empty()) return std::nullopt;

  utmpx r;
  std::memset(&r, 0, sizeof r);
  r.ut_type = type;
  r.ut_pid = pid;
  fill(r.ut_user, user);
  fill(r.ut_line, line);
  fill(r.ut_host, host);
  // The id is the end of the line name, as login programs make it.
  fill(r.ut_id, line.size() > sizeof r.ut_id ? line.substr(line.size() - sizeof r.ut_id) : line);
  r.ut_tv.tv_sec = static_cast<decltype(r.ut_tv.tv_sec)>(std::time(nullptr));
  return r;
}

// write_all - writes the whole buffer, retrying short writes; false on error.
bool write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// write_atomically - writes the records to a temporary file beside `path`
// and renames it over `path`. Returns whether it worked.
bool write_atomically(const std::string& path, const std::vector<utmpx>& records) {
  std::string tmp = path + ".XXXXXX";
  int fd = mkstemp(tmp.data());
  if (fd < 0) {
    std::fprintf(stderr, "%s: %s: %s\n", prog, tmp.c_str(), std::strerror(errno));
    return false;
  }
  bool ok = fchmod(fd, 0644) == 0 && write_all(fd, reinterpret_cast<const char*>(records.data()),
                                               records.size() * sizeof(utmpx));
  int saved = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && rename(tmp.c_str(), path.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    std::fprintf(stderr, "%s: %s: %s\n", prog, path.c_str(), std::strerror(saved));
    unlink(tmp.c_str());
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 0 && argv[0] != nullptr) {
    const char* slash = std::strrchr(argv[0], '/');
    prog = slash != nullptr ? slash + 1 : argv[0];
  }
  if (argc < 2 || argv[1][0] == '\0' || std::strcmp(argv[1], "-h") == 0 ||
      std::strcmp(argv[1], "--help") == 0)
    usage();

  std::vector<utmpx> records;
  for (int i = 2; i < argc; ++i) {
    std::optional<utmpx> r = parse_record(argv[i], static_cast<pid_t>(1000 + i));
    if (!r) {
      std::fprintf(stderr, "%s: bad record '%s'\n", prog, argv[i]);
      usage();
    }
    records.push_back(*r);
  }
  return write_atomically(argv[1], records) ? 0 : 1;
}
