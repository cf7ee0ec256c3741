// greeter_choice_test.cpp - which delivery ZIBBET_GREETER and the host
// choose, and the real binary greeting through each: the write utility,
// and zibbet's own writing to the terminal.
#include "driver/greeter_choice.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "support/harness.h"
#include "support/platform.h"
#include "support/records.h"
#include "support/terminal.h"

namespace zibbet::test {
namespace {

std::string describe(const greeter_decision& d) {
  if (!d.delivery) return "error: " + d.error;
  return *d.delivery == greeting_delivery::terminal ? "terminal" : "write";
}

TEST(GreeterChoice, VariableAndHostDecide) {
  const std::string refused = "error: unknown ZIBBET_GREETER ";
  const std::string accepted = " (accepted values: auto, write, terminal)";
  struct {
    const char* env;
    bool logind;
    bool write_on_path;
    bool refuses_without_tty;
    bool tty;
    std::string want;
  } cases[] = {
      // auto (unset, empty or "auto"): the write utility where it can work
      {nullptr, false, true, false, false, "write"},
      {"", false, true, false, true, "write"},
      {"auto", false, true, true, true, "write"},
      // ... and zibbet's own delivery where it cannot: logind's sessions,
      {"auto", true, true, false, true, "terminal"},
      // no write on PATH,
      {nullptr, false, false, false, true, "terminal"},
      // a write that wants a terminal among the streams, and none is one
      {"auto", false, true, true, false, "terminal"},
      // asked for by name, whatever the host
      {"write", true, false, true, false, "write"},
      {"terminal", false, true, false, true, "terminal"},
      // anything else is refused, shown safely
      {"Write", false, true, false, true, refused + "\"Write\"" + accepted},
      {"tty", false, true, false, true, refused + "\"tty\"" + accepted},
      {"x\x1b[2J", false, true, false, true, refused + "\"x?[2J\"" + accepted},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.env ? c.env : "(unset)"));
    greeter_host host{c.logind, c.write_on_path, c.refuses_without_tty, c.tty};
    EXPECT_EQ(describe(decide_greeter(c.env, host)), c.want);
  }
}

// A buddy logged in on a pseudo-terminal of the test's, which is root's
// own with messages on, and a fake write utility that logs what it gets.
class Greeter : public ::testing::Test {
 protected:
  void SetUp() override {
    if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
    if (geteuid() != 0) GTEST_SKIP() << "the terminal must be root's own: run as root";
    ASSERT_FALSE(term_.line().empty()) << "no pseudo-terminal";
    ASSERT_EQ(chown(("/dev/" + term_.line()).c_str(), 0, static_cast<gid_t>(-1)), 0);
    ASSERT_EQ(chmod(("/dev/" + term_.line()).c_str(), 0620), 0);
    write_records(records_, {{"root", term_.line(), "", USER_PROCESS}});
    bin_ = install_fake_write(dir_);
  }

  // greet - a one-shot run that greets root on the terminal.
  run_result greet(const std::string& greeter, const std::string& path) {
    std::vector<std::string> env = {"ZIBBET_UTMP=" + records_, "FAKE_WRITE_LOG=" + log_,
                                    "PATH=" + path};
    if (!greeter.empty()) env.push_back("ZIBBET_GREETER=" + greeter);
    return run_zibbet({"-o", "-F", "-u", "root", "-w", "-s", "%b", "-m", "hi %b"}, env);
  }

  // on_terminal - what the run wrote to the terminal, CRs left out.
  std::string on_terminal() {
    std::string got;
    pollfd p{term_.master(), POLLIN, 0};
    char buf[4096];
    while (poll(&p, 1, 200) == 1) {
      ssize_t n = read(term_.master(), buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
    }
    got.erase(std::remove(got.begin(), got.end(), '\r'), got.end());
    return got;
  }

  temp_dir dir_;
  pseudo_terminal term_;
  std::string records_ = dir_ / "utmp";
  std::string log_ = dir_ / "write.log";
  std::string bin_;
};

TEST_F(Greeter, EachDeliveryAsTheVariableAndPathSay) {
  const std::string system_path = "/usr/bin:/bin";
  const std::string empty = dir_ / "empty";
  ASSERT_EQ(mkdir(empty.c_str(), 0755), 0);
  struct {
    const char* what;
    std::string greeter;
    std::string path;
    bool by_utility;
  } cases[] = {
      {"auto, a write on PATH", "", bin_ + ":" + system_path, true},
      {"auto, none on PATH", "auto", empty, false},
      {"write", "write", bin_ + ":" + system_path, true},
      {"terminal, a write on PATH all the same", "terminal", bin_ + ":" + system_path, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    unlink(log_.c_str());
    run_result r = greet(c.greeter, c.path);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "root\ncan i write to " + term_.line() + "?");
    std::string terminal = on_terminal();
    if (c.by_utility) {
      EXPECT_EQ(read_file(log_), "argv: [root] [" + term_.line() + "]\nhi root\n\n");
      EXPECT_EQ(terminal, "");
    } else {
      EXPECT_EQ(read_file(log_), "");
      EXPECT_NE(terminal.find("Message from "), std::string::npos) << terminal;
      EXPECT_NE(terminal.find(" on "), std::string::npos) << terminal;
      EXPECT_NE(terminal.find("\nhi root\n\nEOF\n"), std::string::npos) << terminal;
    }
  }
}

// A run that may not open the buddy's terminal (no root, not in the tty
// group) says so for that greeting and goes on.
TEST_F(Greeter, AnUnprivilegedRunIsRefusedTheTerminalAndGoesOn) {
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);  // its records must be readable
  run_options opts;
  opts.program = "/usr/bin/setpriv";
  opts.args = {"--reuid=65534",
               "--regid=65534",
               "--clear-groups",
               zibbet_binary(),
               "-o",
               "-F",
               "-u",
               "root",
               "-w",
               "-s",
               "%b",
               "-m",
               "hi %b"};
  opts.env = {"ZIBBET_UTMP=" + records_, "ZIBBET_GREETER=terminal"};
  run_result r = run(opts);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "root\ncan i write to " + term_.line() + "?");
  EXPECT_EQ(r.err, "/dev/" + term_.line() +
                       ": Permission denied\nzibbet: warning, not writing to root on " +
                       term_.line() + "\n");
  EXPECT_EQ(on_terminal(), "");
}

TEST(GreeterRefusal, ABogusValueEndsTheRunBeforeAnything) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  for (const char* value : {"bogus", "WRITE", " terminal", "write,terminal"}) {
    SCOPED_TRACE(value);
    run_result r =
        run_zibbet({"-o", "-F", "-u", "alice"}, {std::string("ZIBBET_GREETER=") + value});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, std::string("zibbet: unknown ZIBBET_GREETER \"") + value +
                         "\" (accepted values: auto, write, terminal)\n");
    EXPECT_EQ(r.out, "");
  }
}

}  // namespace
}  // namespace zibbet::test
