// mkutmp.cpp - writes a login-record file for the demo and for trying the
// watcher on records of one's own choosing.
//
//   mkutmp [--format=host|freebsd] FILE [USER:LINE[:HOST[:TYPE]]] ...
//
// The records are the host's own (the default; on FreeBSD these are the
// packed records of utx.active) or, with --format=freebsd, FreeBSD's packed
// 197-byte records of /var/run/utx.active, whatever the host, so that a
// reader of that format can be tried anywhere.
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
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "logins/freebsd_utx.h"

namespace {

const char* prog = "mkutmp";

// usage - prints how to call the tool and ends with status 2.
[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: %s [--format=host|freebsd] FILE [USER:LINE[:HOST[:TYPE]]] ...\n"
               "  TYPE: user (default), login, dead, init, boot, empty, or a number\n"
               "  --format: the host's records (default) or FreeBSD's utx.active records\n",
               prog);
  std::exit(2);
}

// fill - copies `value` into a fixed-width field, zero-padded, cut to fit.
template <std::size_t N>
void fill(char (&field)[N], std::string_view value) {
  std::memset(field, 0, N);
  // An empty view may have no data at all, which memcpy must not be given.
  if (!value.empty()) std::memcpy(field, value.data(), value.size() < N ? value.size() : N);
}

// The record formats the tool writes.
enum class format { host, freebsd };

// The host's own records: on FreeBSD they are the packed records of
// utx.active, not the C library's struct in memory, which no reader takes.
constexpr format native_format =
#if defined(__FreeBSD__)
    format::freebsd;
#else
    format::host;
#endif

// One record as its argument gives it, in no format yet.
struct entry {
  std::string_view user;
  std::string_view line;
  std::string_view host;
  short type;
};

// parse_type - a record type from its name or number, in the numbers of
// `fmt` (the two formats number the same types differently); nullopt when
// unknown or too large for the format.
std::optional<short> parse_type(std::string_view s, format fmt) {
  namespace fb = zibbet::freebsd_utx;
  struct named {
    const char* name;
    short host_type;
    short freebsd_type;
  };
  static const named names[] = {
      {"user", USER_PROCESS, fb::user_process}, {"login", LOGIN_PROCESS, fb::login_process},
      {"dead", DEAD_PROCESS, fb::dead_process}, {"init", INIT_PROCESS, fb::init_process},
      {"boot", BOOT_TIME, fb::boot_time},       {"empty", EMPTY, fb::empty},
  };
  for (const named& n : names)
    if (s == n.name) return fmt == format::freebsd ? n.freebsd_type : n.host_type;
  if (s.empty() || s.size() > 4) return std::nullopt;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  // FreeBSD's type is a single byte.
  if (fmt == format::freebsd && v > 255) return std::nullopt;
  return static_cast<short>(v);
}

// parse_entry - one record from USER:LINE[:HOST[:TYPE]]; nullopt when the
// argument is malformed.
std::optional<entry> parse_entry(std::string_view arg, format fmt) {
  std::size_t c1 = arg.find(':');
  if (c1 == std::string_view::npos) return std::nullopt;
  std::string_view user = arg.substr(0, c1);
  std::string_view rest = arg.substr(c1 + 1);
  std::size_t c2 = rest.find(':');
  std::string_view line = rest.substr(0, c2);
  std::string_view host;
  short type = fmt == format::freebsd ? zibbet::freebsd_utx::user_process : USER_PROCESS;
  if (c2 != std::string_view::npos) {
    host = rest.substr(c2 + 1);
    if (std::size_t c3 = host.rfind(':'); c3 != std::string_view::npos) {
      std::optional<short> t = parse_type(host.substr(c3 + 1), fmt);
      if (!t) return std::nullopt;
      type = *t;
      host = host.substr(0, c3);
    }
  }
  if (line.empty()) return std::nullopt;
  return entry{user, line, host, type};
}

// line_id - the id of a record: the end of its line name, at most `width`
// bytes, as login programs make it.
std::string_view line_id(std::string_view line, std::size_t width) {
  return line.size() > width ? line.substr(line.size() - width) : line;
}

// append_host_record - appends the bytes of `e` as one of the host's records.
void append_host_record(std::string& out, const entry& e, pid_t pid) {
  utmpx r;
  std::memset(&r, 0, sizeof r);
  r.ut_type = e.type;
  r.ut_pid = pid;
  fill(r.ut_user, e.user);
  fill(r.ut_line, e.line);
  fill(r.ut_host, e.host);
  fill(r.ut_id, line_id(e.line, sizeof r.ut_id));
  r.ut_tv.tv_sec = static_cast<decltype(r.ut_tv.tv_sec)>(std::time(nullptr));
  out.append(reinterpret_cast<const char*>(&r), sizeof r);
}

// append_freebsd_record - appends the bytes of `e` as one of FreeBSD's
// utx.active records, stamped with the time now in microseconds.
void append_freebsd_record(std::string& out, const entry& e, pid_t pid) {
  namespace fb = zibbet::freebsd_utx;
  auto now = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  auto r = zibbet::encode_freebsd_utx(
      static_cast<std::uint8_t>(e.type), static_cast<std::uint64_t>(now.count()),
      line_id(e.line, fb::id_width), static_cast<std::uint32_t>(pid), e.user, e.line, e.host);
  out.append(reinterpret_cast<const char*>(r.data()), r.size());
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

// write_atomically - writes the records' bytes to a temporary file beside
// `path` and renames it over `path`. Returns whether it worked.
bool write_atomically(const std::string& path, const std::string& records) {
  std::string tmp = path + ".XXXXXX";
  int fd = mkstemp(tmp.data());
  if (fd < 0) {
    std::fprintf(stderr, "%s: %s: %s\n", prog, tmp.c_str(), std::strerror(errno));
    return false;
  }
  bool ok = fchmod(fd, 0644) == 0 && write_all(fd, records.data(), records.size());
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
  // Options come before FILE only, so any FILE the tool took before is
  // still taken as one.
  format fmt = native_format;
  int first = 1;
  for (; first < argc; ++first) {
    std::string_view arg = argv[first];
    constexpr std::string_view format_option = "--format=";
    if (arg.substr(0, format_option.size()) != format_option) break;
    std::string_view name = arg.substr(format_option.size());
    if (name == "host") {
      fmt = native_format;
    } else if (name == "freebsd") {
      fmt = format::freebsd;
    } else {
      std::fprintf(stderr, "%s: unknown format '%s'\n", prog, argv[first] + format_option.size());
      usage();
    }
  }
  if (first >= argc || argv[first][0] == '\0' || std::strcmp(argv[first], "-h") == 0 ||
      std::strcmp(argv[first], "--help") == 0)
    usage();

  std::string records;
  for (int i = first + 1; i < argc; ++i) {
    std::optional<entry> e = parse_entry(argv[i], fmt);
    if (!e) {
      std::fprintf(stderr, "%s: bad record '%s'\n", prog, argv[i]);
      usage();
    }
    // The pid stays what it was for the same record position without options.
    auto pid = static_cast<pid_t>(1000 + (i - first + 1));
    if (fmt == format::freebsd) {
      append_freebsd_record(records, *e, pid);
    } else {
      append_host_record(records, *e, pid);
    }
  }
  return write_atomically(argv[first], records) ? 0 : 1;
}
