// terminal_delivery_test.cpp - a greeting written straight to a buddy's
// terminal: the message as the terminal gets it, and the delivery to
// real pseudo-terminals given owners and modes as root: delivered,
// refused (messages off, someone else's, unknown user, unsafe lines, a
// symbolic link, no terminal) and given up on a terminal that takes no
// output.
#include "output/terminal_delivery.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>

#include "support/harness.h"
#include "support/process.h"

namespace zibbet::test {
namespace {

using namespace std::chrono_literals;

// Message text ------------------------------------------------------------

TEST(TerminalMessage, Visible) {
  struct {
    const char* what;
    std::string text;
    bool layout;
    std::string shown;
  } cases[] = {
      {"plain text passes", "hi alice", true, "hi alice"},
      {"a newline becomes CR LF", "a\nb\n", true, "a\r\nb\r\n"},
      {"a tab stays", "a\tb", true, "a\tb"},
      {"bell", "\a", true, "^G"},
      {"escape sequence", "\x1b[2J", true, "^[[2J"},
      {"delete", "\x7f", true, "^?"},
      {"NUL", std::string("a\0b", 3), true, "a^@b"},
      {"a carriage return cannot overwrite the line", "x\ry", true, "x^My"},
      {"without layout a newline and a tab are shown", "a\nb\tc", false, "a^Jb^Ic"},
      {"two-byte UTF-8", "caf\xc3\xa9", true, "caf\xc3\xa9"},
      {"three-byte UTF-8 with a 0x82 inside", "\xe2\x82\xac", true, "\xe2\x82\xac"},
      {"four-byte UTF-8", "\xf0\x9f\x98\x80", true, "\xf0\x9f\x98\x80"},
      {"no-break space U+00A0", "\xc2\xa0", true, "\xc2\xa0"},
      {"highest code point", "\xf4\x8f\xbf\xbf", true, "\xf4\x8f\xbf\xbf"},
      {"raw C1 CSI",
       "\x9b"
       "31m",
       true, "\\x9B31m"},
      {"raw C1 NEL", "\x85", true, "\\x85"},
      {"C1 CSI as UTF-8 (U+009B)",
       "\xc2\x9b"
       "2J",
       true, "\\xC2\\x9B2J"},
      {"U+0080 as UTF-8", "\xc2\x80", true, "\\xC2\\x80"},
      {"overlong slash", "\xc0\xaf", true, "\\xC0\\xAF"},
      {"overlong three-byte", "\xe0\x80\xaf", true, "\\xE0\\x80\\xAF"},
      {"surrogate", "\xed\xa0\x80", true, "\\xED\\xA0\\x80"},
      {"above U+10FFFF", "\xf4\x90\x80\x80", true, "\\xF4\\x90\\x80\\x80"},
      {"lead byte F5", "\xf5\x80\x80\x80", true, "\\xF5\\x80\\x80\\x80"},
      {"stray continuation byte", "a\x80z", true, "a\\x80z"},
      {"cut short at the end", "\xe2\x82", true, "\\xE2\\x82"},
      {"cut short before ASCII",
       "\xe2\x82"
       "A",
       true, "\\xE2\\x82A"},
      {"a lead byte before a good character", "\xc3\xc3\xa9", true, "\\xC3\xc3\xa9"},
  };
  for (const auto& c : cases) {
    std::string out = "[";
    append_visible(out, c.text, c.layout);
    EXPECT_EQ(out, "[" + c.shown) << c.what;
  }
}

TEST(TerminalMessage, Framing) {
  std::tm nine_o_five{};
  nine_o_five.tm_hour = 9;
  nine_o_five.tm_min = 5;
  std::tm late{};
  late.tm_hour = 23;
  late.tm_min = 59;
  const message_origin bob{"bob", "box", "pts/1", nine_o_five};
  const std::string header = "\r\nMessage from bob@box on pts/1 at 09:05 ...\r\n";
  struct {
    const char* what;
    message_origin from;
    std::string text;
    std::string message;
  } cases[] = {
      {"a greeting and its newline", bob, "hi alice\n", header + "hi alice\r\nEOF\r\n"},
      {"no final newline (-n)", bob, "hi", header + "hi\r\nEOF\r\n"},
      {"nothing to say", bob, "", header + "EOF\r\n"},
      {"several lines", bob, "a\nb\n\n", header + "a\r\nb\r\n\r\nEOF\r\n"},
      {"a bell and an escape shown", bob, "\ahey\x1b[5m\n", header + "^Ghey^[[5m\r\nEOF\r\n"},
      {"no terminal of our own, late",
       {"bob", "box", "no tty", late},
       "x\n",
       "\r\nMessage from bob@box on no tty at 23:59 ...\r\nx\r\nEOF\r\n"},
      {"control bytes in the header shown",
       {"b\nob", "h\x1b]0;x\a", "pts/\t1", nine_o_five},
       "",
       "\r\nMessage from b^Job@h^[]0;x^G on pts/^I1 at 09:05 ...\r\nEOF\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(terminal_message(c.from, c.text), c.message) << c.what;
}

// Delivery ----------------------------------------------------------------

constexpr uid_t alice_uid = 4242;
constexpr uid_t carol_uid = 4343;

// known_uid - the delivery's uid lookup for these tests: alice and carol
// exist, nobody else does.
std::optional<uid_t> known_uid(const std::string& user) {
  if (user == "alice") return alice_uid;
  if (user == "carol") return carol_uid;
  return std::nullopt;
}

// A fixed moment, 1 Jan 2026 12:34:56 UTC, for the header.
std::time_t fixed_clock() {
  return 1767270896;
}

// header_time - " at HH:MM ..." of fixed_clock() in local time.
std::string header_time() {
  std::time_t t = fixed_clock();
  std::tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, " at %H:%M ...\r\n", &local);
  return text;
}

// A buddy's terminal: a pseudo-terminal whose slave is handed to an owner
// with a mode, as login does. Its output is raw (no newline translation),
// so the master reads exactly the bytes the delivery wrote.
class buddy_terminal {
 public:
  buddy_terminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    const char* name = ptsname(master_);
    if (name == nullptr) return;
    path_ = name;
    termios t{};
    if (tcgetattr(master_, &t) != 0) return;
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    if (tcsetattr(master_, TCSANOW, &t) != 0) return;
    line_ = path_.substr(std::strlen("/dev/"));
  }
  ~buddy_terminal() {
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }
  buddy_terminal(const buddy_terminal&) = delete;
  buddy_terminal& operator=(const buddy_terminal&) = delete;

  /// The login line ("pts/N"), empty when the terminal could not be made.
  [[nodiscard]] const std::string& line() const { return line_; }
  [[nodiscard]] const std::string& path() const { return path_; }
  [[nodiscard]] int master() const { return master_; }

  /// give - hands the slave to `owner` with `mode`; true when done.
  bool give(uid_t owner, mode_t mode) {
    return chown(path_.c_str(), owner, static_cast<gid_t>(-1)) == 0 &&
           chmod(path_.c_str(), mode) == 0;
  }

  /// slave - a descriptor of the slave side of our own (opened once).
  int slave() {
    if (slave_ < 0) slave_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    return slave_;
  }

  /// fill - writes "x" to the slave until the terminal takes no more
  /// while nobody reads the master: until it has had no room for 200 ms
  /// (the kernel moves output on to the master's side a little later, so
  /// one EAGAIN is not yet a full terminal). True when it got there.
  bool fill() {
    const std::string block(4096, 'x');
    for (int round = 0; round < 100; ++round) {
      while (write(slave(), block.data(), block.size()) > 0) {
      }
      if (errno != EAGAIN) return false;
      pollfd out{slave(), POLLOUT, 0};
      if (poll(&out, 1, 200) == 0) return true;
    }
    return false;
  }

  /// read_until - reads the master until what it gave ends with `end`, or
  /// `timeout` passes, and returns all of it.
  std::string read_until(const std::string& end, std::chrono::milliseconds timeout = 5s) {
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (got.size() >= end.size() && got.compare(got.size() - end.size(), end.size(), end) == 0)
        return got;
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return got;
      pollfd in{master_, POLLIN, 0};
      if (poll(&in, 1, static_cast<int>(left.count())) <= 0) continue;
      char buf[4096];
      ssize_t n = read(master_, buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<std::size_t>(n));
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return got;
    }
  }

  /// pending - what the master has to read, until it has given nothing
  /// for 50 ms.
  std::string pending() {
    std::string got;
    char buf[4096];
    for (pollfd in{master_, POLLIN, 0}; poll(&in, 1, 50) > 0;) {
      ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
  std::string line_;
};

// Settings for the delivery with the test's uid lookup and clock, and
// standard output and error captured per call.
class TerminalDelivery : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_.prog_name = "zibbet";
    settings_.sender = "bob";
    settings_.uid_of = known_uid;
    settings_.clock = fixed_clock;
  }

  // deliver - deliver_to_terminal with our settings, its standard error
  // captured into `err`.
  bool deliver(std::string_view user, std::string_view line, std::string_view text,
               std::string& err) {
    bool delivered = false;
    captured got = capture(dir_ / ("capture" + std::to_string(++captures_)),
                           [&] { delivered = deliver_to_terminal(settings_, user, line, text); });
    err = got.err;
    return delivered;
  }

  // refusal - the last warning of every refusal.
  static std::string refusal(const std::string& user, const std::string& line) {
    return "zibbet: warning, not writing to " + user + " on " + line + "\n";
  }

  // as_root - skips the test when it cannot give devices away or make
  // links in /dev.
  static bool as_root() { return geteuid() == 0; }

  terminal_delivery_settings settings_;
  temp_dir dir_;
  int captures_ = 0;
};

TEST_F(TerminalDelivery, DeliveredFramedAndShown) {
  if (!as_root()) GTEST_SKIP() << "needs root to give the terminal to alice";
  buddy_terminal term;
  ASSERT_FALSE(term.line().empty()) << "no pseudo-terminal";
  ASSERT_TRUE(term.give(alice_uid, 0620));

  std::string err;
  const std::string greeting = "hey\a alice\x1b[31m red\x9b\tok\n";
  EXPECT_TRUE(deliver("alice", term.line(), greeting, err));
  EXPECT_EQ(err, "");
  std::string got = term.read_until("EOF\r\n");

  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  const std::string start = std::string("\r\nMessage from bob@") + host + " on ";
  ASSERT_EQ(got.substr(0, start.size()), start) << got;
  std::size_t header_end = got.find("\r\n", start.size());
  ASSERT_NE(header_end, std::string::npos) << got;
  const std::string header = got.substr(2, header_end);
  EXPECT_EQ(header.substr(header.size() - header_time().size()), header_time()) << header;
  EXPECT_EQ(got.substr(header_end + 2), "hey^G alice^[[31m red\\x9B\tok\r\nEOF\r\n");

  // Nothing raw reaches the terminal, and every line ends in CR LF.
  for (std::size_t i = 0; i < got.size(); ++i) {
    auto c = static_cast<unsigned char>(got[i]);
    if (c == '\n') {
      EXPECT_TRUE(i > 0 && got[i - 1] == '\r') << "bare newline at " << i;
    } else {
      EXPECT_TRUE((c >= 0x20 && c < 0x7f) || c == '\r' || c == '\t') << "raw byte " << int(c);
    }
    if (c == '\r') {
      EXPECT_TRUE(i + 1 < got.size() && got[i + 1] == '\n') << "bare CR at " << i;
    }
  }
}

TEST_F(TerminalDelivery, DeliveredThroughPasswordDatabase) {
  if (!as_root()) GTEST_SKIP() << "needs root for a terminal owned by uid 0";
  buddy_terminal term;
  ASSERT_FALSE(term.line().empty()) << "no pseudo-terminal";
  ASSERT_TRUE(term.give(0, 0620));
  settings_.uid_of = nullptr;

  std::string err;
  EXPECT_TRUE(deliver("root", term.line(), "hi root\n", err));
  EXPECT_EQ(err, "");
  std::string got = term.read_until("EOF\r\n");
  EXPECT_NE(got.find("\r\nhi root\r\nEOF\r\n"), std::string::npos) << got;

  // A name the database does not know is refused, the terminal untouched.
  EXPECT_FALSE(deliver("zibbet-no-such-user", term.line(), "hi\n", err));
  EXPECT_EQ(err, "zibbet: unknown user zibbet-no-such-user\n" +
                     refusal("zibbet-no-such-user", term.line()));
  EXPECT_EQ(term.pending(), "");
}

TEST_F(TerminalDelivery, RefusedTerminals) {
  if (!as_root()) GTEST_SKIP() << "needs root to give terminals away";
  struct {
    const char* what;
    std::string user;
    uid_t owner;
    mode_t mode;
    std::string reason;  // "LINE" stands for the terminal's line
    std::string shown_user;
  } cases[] = {
      {"messages off (mesg n)", "alice", alice_uid, 0600,
       "zibbet: alice has messages disabled on LINE\n", "alice"},
      {"others may write, the group may not", "alice", alice_uid, 0602,
       "zibbet: alice has messages disabled on LINE\n", "alice"},
      {"someone else's terminal now", "alice", carol_uid, 0620,
       "zibbet: LINE is not alice's terminal\n", "alice"},
      {"root's terminal", "alice", 0, 0620, "zibbet: LINE is not alice's terminal\n", "alice"},
      {"someone else's terminal with messages off", "alice", carol_uid, 0600,
       "zibbet: LINE is not alice's terminal\n", "alice"},
      {"unknown user", "mallory", alice_uid, 0620, "zibbet: unknown user mallory\n", "mallory"},
      {"a name cut by a NUL", std::string("alice\0x", 7), alice_uid, 0620,
       "zibbet: unknown user alice?x\n", "alice?x"},
      {"a name with an escape", "al\x1bice", alice_uid, 0620, "zibbet: unknown user al?ice\n",
       "al?ice"},
  };
  for (const auto& c : cases) {
    buddy_terminal term;
    ASSERT_FALSE(term.line().empty()) << "no pseudo-terminal";
    ASSERT_TRUE(term.give(c.owner, c.mode)) << c.what;
    std::string reason = c.reason;
    if (std::size_t at = reason.find("LINE"); at != std::string::npos)
      reason.replace(at, 4, term.line());

    std::string err;
    EXPECT_FALSE(deliver(c.user, term.line(), "hi\n", err)) << c.what;
    EXPECT_EQ(err, reason + refusal(c.shown_user, term.line())) << c.what;
    EXPECT_EQ(term.pending(), "") << c.what;
  }
}

TEST_F(TerminalDelivery, RefusedLines) {
  struct {
    const char* what;
    std::string line;
    std::string first;  // the line before the warning, if any
    std::string shown_line;
  } cases[] = {
      {"empty", "", "", ""},
      {"absolute", "/dev/null", "", "/dev/null"},
      {"absolute terminal", "/dev/tty", "", "/dev/tty"},
      {"parent folder", "../etc/passwd", "", "../etc/passwd"},
      {"parent folder inside", "pts/../../etc/passwd", "", "pts/../../etc/passwd"},
      {"parent folder last", "pts/..", "", "pts/.."},
      {"not a terminal", "null", "", "null"},
      {"a folder", "pts", "/dev/pts: Is a directory\n", "pts"},
      {"no such terminal", "pts/99999", "/dev/pts/99999: No such file or directory\n", "pts/99999"},
      {"a control byte in the line",
       "pts/\x1b"
       "9",
       "/dev/pts/?9: No such file or directory\n", "pts/?9"},
  };
  for (const auto& c : cases) {
    std::string err;
    EXPECT_FALSE(deliver("alice", c.line, "hi\n", err)) << c.what;
    EXPECT_EQ(err, c.first + refusal("alice", c.shown_line)) << c.what;
  }
}

// A link in /dev to the buddy's terminal, removed when it goes.
class dev_link {
 public:
  explicit dev_link(const std::string& target)
      : name_("zibbet-test-link-" + std::to_string(getpid())) {
    made_ = symlink(target.c_str(), ("/dev/" + name_).c_str()) == 0;
  }
  ~dev_link() {
    if (made_) unlink(("/dev/" + name_).c_str());
  }
  dev_link(const dev_link&) = delete;
  dev_link& operator=(const dev_link&) = delete;
  [[nodiscard]] bool made() const { return made_; }
  [[nodiscard]] const std::string& name() const { return name_; }

 private:
  std::string name_;
  bool made_ = false;
};

TEST_F(TerminalDelivery, SymbolicLinkRefused) {
  if (!as_root()) GTEST_SKIP() << "needs root to make a link in /dev";
  buddy_terminal term;
  ASSERT_FALSE(term.line().empty()) << "no pseudo-terminal";
  ASSERT_TRUE(term.give(alice_uid, 0620));
  dev_link link(term.path());
  ASSERT_TRUE(link.made()) << std::strerror(errno);

  std::string err;
  EXPECT_FALSE(deliver("alice", link.name(), "hi\n", err));
  EXPECT_EQ(err, "/dev/" + link.name() + ": " + std::strerror(ELOOP) + "\n" +
                     refusal("alice", link.name()));
  EXPECT_EQ(term.pending(), "");
}

TEST_F(TerminalDelivery, GivesUpOnTerminalTakingNoOutput) {
  if (!as_root()) GTEST_SKIP() << "needs root to give the terminal to alice";
  struct {
    const char* what;
    bool stop_output;  // else fill the buffer
  } cases[] = {
      {"output stopped (^S)", true},
      {"buffer full, nobody reading", false},
  };
  settings_.limit = 300ms;
  for (const auto& c : cases) {
    buddy_terminal term;
    ASSERT_FALSE(term.line().empty()) << "no pseudo-terminal";
    ASSERT_TRUE(term.give(alice_uid, 0620)) << c.what;
    ASSERT_GE(term.slave(), 0) << c.what;
    if (c.stop_output) {
      ASSERT_EQ(tcflow(term.slave(), TCOOFF), 0) << c.what;
    } else {
      ASSERT_TRUE(term.fill()) << c.what;
    }

    std::string err;
    EXPECT_FALSE(deliver("alice", term.line(), "hi\n", err)) << c.what;
    EXPECT_EQ(err, "zibbet: writing to alice on " + term.line() + " timed out\n" +
                       refusal("alice", term.line()))
        << c.what;
  }
}

TEST_F(TerminalDelivery, FullBufferThatDrainsGetsWholeMessage) {
  if (!as_root()) GTEST_SKIP() << "needs root to give the terminal to alice";
  buddy_terminal term;
  ASSERT_FALSE(term.line().empty()) << "no pseudo-terminal";
  ASSERT_TRUE(term.give(alice_uid, 0620));
  ASSERT_GE(term.slave(), 0);
  ASSERT_TRUE(term.fill());

  // The buddy starts reading only once the delivery has found the
  // terminal full, so the rest goes out through poll().
  std::string got;
  std::thread reader([&] {
    std::this_thread::sleep_for(100ms);
    got = term.read_until("EOF\r\n", 10s);
  });
  settings_.limit = 10s;
  std::string err;
  const std::string greeting(3000, 'g');
  bool delivered = deliver("alice", term.line(), greeting + "\n", err);
  reader.join();
  EXPECT_TRUE(delivered);
  EXPECT_EQ(err, "");
  std::size_t body = got.find("Message from bob@");
  ASSERT_NE(body, std::string::npos);
  EXPECT_EQ(got.find_first_not_of('x'), body - 2);
  EXPECT_NE(got.find("\r\n" + greeting + "\r\nEOF\r\n"), std::string::npos);
}

}  // namespace
}  // namespace zibbet::test
