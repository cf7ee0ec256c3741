// terminal_delivery.cpp - a greeting written straight to a buddy's
// terminal, with the checks and the framing of a polite write utility.
#include "output/terminal_delivery.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "common/diag.h"
#include "common/unique_fd.h"
#include "common/untrusted.h"

namespace zibbet {

namespace {

// utf8_length - the length of the well-formed UTF-8 character that starts
// at text[at] (a byte of 0x80 or above), or 0 when none does: a stray
// continuation byte, an overlong form, a surrogate, a code point above
// U+10FFFF, or a sequence cut short. The ranges of the second byte are
// those that rule out the overlong forms, the surrogates and the code
// points past U+10FFFF.
std::size_t utf8_length(std::string_view text, std::size_t at) {
  auto byte = [&](std::size_t i) -> unsigned {
    return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0u;
  };
  const unsigned lead = byte(0);
  std::size_t length = 0;
  unsigned low = 0x80;
  unsigned high = 0xbf;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    if (lead == 0xe0) low = 0xa0;
    if (lead == 0xed) high = 0x9f;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    if (lead == 0xf0) low = 0x90;
    if (lead == 0xf4) high = 0x8f;
  } else {
    return 0;
  }
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xbf) return 0;
  return length;
}

// append_hex - appends "\xNN" for one byte that may not reach the
// terminal as it is.
void append_hex(std::string& out, unsigned char c) {
  static const char digits[] = "0123456789ABCDEF";
  out += "\\x";
  out += digits[c >> 4];
  out += digits[c & 0x0f];
}

// own_tty - the sender's terminal as the header names it: the first of
// standard input, output and error that is a terminal, without "/dev/".
std::string own_tty() {
  char name[PATH_MAX];
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (ttyname_r(fd, name, sizeof name) != 0) continue;
    std::string_view tty(name);
    if (tty.substr(0, 5) == "/dev/") tty.remove_prefix(5);
    return std::string(tty);
  }
  return "no tty";
}

// own_host - this host's name ("" when it has none).
std::string own_host() {
  // HOST_NAME_MAX is glibc's; the system says its own limit.
  long max = sysconf(_SC_HOST_NAME_MAX);
  std::vector<char> name(static_cast<std::size_t>(max > 0 ? max : 255) + 1, '\0');
  if (gethostname(name.data(), name.size() - 1) != 0) return "";
  return name.data();
}

// password_uid - the uid the password database gives `user`, nullopt
// when it knows no such name (or cannot be read).
std::optional<uid_t> password_uid(const std::string& user) {
  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(hint > 0 ? static_cast<std::size_t>(hint) : 1024);
  for (;;) {
    passwd entry{};
    passwd* found = nullptr;
    int err = getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found);
    if (err == ERANGE && buffer.size() < (std::size_t{1} << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (err != 0 || found == nullptr) return std::nullopt;
    return found->pw_uid;
  }
}

using steady = std::chrono::steady_clock;

// write_until - writes all of `data` to the non-blocking terminal `fd`:
// as much as it takes at once, then the rest as poll() says it has room,
// until `deadline`. Returns 0 when all was written, ETIMEDOUT when time
// ran out, else the errno of the write that failed.
int write_until(int fd, std::string_view data, steady::time_point deadline) {
  while (!data.empty()) {
    ssize_t n = write(fd, data.data(), data.size());
    if (n > 0) {
      data.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return errno;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady::now());
    if (left.count() <= 0) return ETIMEDOUT;
    pollfd out{fd, POLLOUT, 0};
    // POLLHUP and POLLERR end the wait too; the next write says what
    // went wrong.
    (void)poll(&out, 1,
               static_cast<int>(std::min<std::chrono::milliseconds::rep>(left.count(), INT_MAX)));
  }
  return 0;
}

}  // namespace

// Bytes below 0x80 other than controls pass. Controls (below 0x20, and
// 0x7f) are shown in caret notation, never sent, so that a greeting can
// neither move the cursor nor start an escape sequence; with `layout`
// only newline (which becomes CR LF, as a terminal in raw mode needs) and
// tab keep their meaning. The buddy's terminal is taken to speak UTF-8: a
// byte of 0x80 and above passes only inside a well-formed UTF-8
// character, and never one of U+0080..U+009F, which such a terminal reads
// as the C1 controls (CSI among them); every other such byte, a raw C1
// byte above all, is shown as \xNN.
void append_visible(std::string& out, std::string_view text, bool layout) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (layout && c == '\n') {
      out += "\r\n";
    } else if (layout && c == '\t') {
      out += '\t';
    } else if (c < 0x20) {
      out += '^';
      out += static_cast<char>(c + 0x40);
    } else if (c == 0x7f) {
      out += "^?";
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      std::size_t length = utf8_length(text, i);
      // U+0080..U+009F are the only two-byte characters led by 0xC2 with
      // a second byte below 0xA0.
      const bool c1 = length == 2 && c == 0xc2 && static_cast<unsigned char>(text[i + 1]) < 0xa0;
      if (length == 0 || c1) {
        append_hex(out, c);
      } else {
        out.append(text.substr(i, length));
        i += length - 1;
      }
    }
  }
}

std::string terminal_message(const message_origin& from, std::string_view text) {
  std::string out = "\r\nMessage from ";
  append_visible(out, from.sender, false);
  out += '@';
  append_visible(out, from.host, false);
  out += " on ";
  append_visible(out, from.tty, false);
  char at[32];
  std::snprintf(at, sizeof at, " at %02d:%02d ...\r\n", from.at.tm_hour, from.at.tm_min);
  out += at;
  append_visible(out, text, true);
  // "EOF" stands on a line of its own even after a greeting without a
  // final newline (-n).
  if (!text.empty() && text.back() != '\n') out += "\r\n";
  out += "EOF\r\n";
  return out;
}

bool deliver_to_terminal(const terminal_delivery_settings& s, std::string_view user,
                         std::string_view line, std::string_view text) {
  const std::string shown_user = terminal_safe(user);
  const std::string shown_line = terminal_safe(line);
  auto refuse = [&] {
    warn(s.prog_name, "warning, not writing to %s on %s", shown_user.c_str(), shown_line.c_str());
    return false;
  };
  if (!device_line_safe(line)) return refuse();

  // Every check is made on the opened descriptor, so that the device
  // cannot be swapped between a check and the write. The open never makes
  // it our controlling terminal, never blocks (a FIFO put there, say) and
  // never follows a symbolic link out of /dev.
  const std::string device = "/dev/" + std::string(line);
  unique_fd fd(open(device.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW));
  if (!fd) {
    int err = errno;
    report_errno("/dev/" + shown_line, err);
    return refuse();
  }
  struct stat st {};
  if (fstat(fd.get(), &st) != 0 || !S_ISCHR(st.st_mode) || isatty(fd.get()) == 0) return refuse();

  // A name with a NUL in it would be looked up as its first part.
  const std::string name(user);
  std::optional<uid_t> uid;
  if (name.find('\0') == std::string::npos) uid = (s.uid_of ? s.uid_of : password_uid)(name);
  if (!uid) {
    warn(s.prog_name, "unknown user %s", shown_user.c_str());
    return refuse();
  }
  // The line may have been given to someone else since the login record
  // was written.
  if (st.st_uid != *uid) {
    warn(s.prog_name, "%s is not %s's terminal", shown_line.c_str(), shown_user.c_str());
    return refuse();
  }
  // Messages off (mesg n) holds for root too.
  if ((st.st_mode & S_IWGRP) == 0) {
    warn(s.prog_name, "%s has messages disabled on %s", shown_user.c_str(), shown_line.c_str());
    return refuse();
  }

  message_origin from{s.sender, own_host(), own_tty(), {}};
  std::time_t now = s.clock ? s.clock() : std::time(nullptr);
  if (localtime_r(&now, &from.at) == nullptr) from.at = std::tm{};
  const std::string message = terminal_message(from, text);

  int err = write_until(fd.get(), message, steady::now() + s.limit);
  if (err == 0) return true;
  // A terminal that went away (EIO once it is hung up) gets the same
  // lines as one that would not open.
  if (err == ETIMEDOUT) {
    warn(s.prog_name, "writing to %s on %s timed out", shown_user.c_str(), shown_line.c_str());
  } else {
    report_errno("/dev/" + shown_line, err);
  }
  return refuse();
}

}  // namespace zibbet
