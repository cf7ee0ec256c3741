// source_choice_test.cpp - which login source ZIBBET_SOURCE and
// ZIBBET_UTMP choose, on hosts with and without a records file and logind.
#include "driver/source_choice.h"

#include <gtest/gtest.h>

#include <string>

namespace zibbet {
namespace {

// What a decision comes to, in one string: "file PATH", "host file",
// "logind", or "error: MESSAGE".
std::string describe(const source_decision& d) {
  if (!d.plan) return "error: " + d.error;
  if (d.plan->from == source_plan::kind::logind) return "logind";
  return d.plan->named_file ? "file " + *d.plan->named_file : "host file";
}

TEST(SourceChoice, EnvironmentAndHostDecide) {
  constexpr auto available = logind_support::available;
  constexpr auto not_booted = logind_support::not_booted;
  constexpr auto not_built = logind_support::not_built;
  const std::string unknown = "error: unknown ZIBBET_SOURCE ";
  const std::string accepted = " (accepted values: auto, utmp, logind)";
  struct {
    const char* source;
    const char* utmp;
    bool host_file;
    logind_support logind;
    std::string want;
  } cases[] = {
      // auto (unset, empty or "auto"): a named file first, then the host's
      // file when it exists, then logind, then the host's file anyway
      {nullptr, "/f", false, available, "file /f"},
      {"", "/f", true, available, "file /f"},
      {"auto", "/f", false, available, "file /f"},
      {nullptr, nullptr, true, available, "host file"},
      {nullptr, "", true, available, "host file"},  // empty counts as unset
      {nullptr, nullptr, false, available, "logind"},
      {"auto", "", false, available, "logind"},
      {nullptr, nullptr, false, not_booted, "host file"},
      {nullptr, nullptr, false, not_built, "host file"},
      // utmp: the named or the host's file, whether or not it exists
      {"utmp", "/f", false, available, "file /f"},
      {"utmp", nullptr, false, available, "host file"},
      // logind: never a file, and an error where it cannot be had
      {"logind", "/f", true, available, "logind"},
      {"logind", nullptr, true, not_booted,
       "error: ZIBBET_SOURCE=logind, but systemd is not running on this host"},
      {"logind", nullptr, false, not_built,
       "error: ZIBBET_SOURCE=logind, but this zibbet was built without logind support"},
      // anything else is refused, shown safely
      {"systemd", nullptr, true, available, unknown + "\"systemd\"" + accepted},
      {"UTMP", "/f", true, available, unknown + "\"UTMP\"" + accepted},
      {"x\x1b[2J", nullptr, true, available, unknown + "\"x?[2J\"" + accepted},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.source ? c.source : "(unset)"));
    EXPECT_EQ(describe(decide_source(c.source, c.utmp, c.host_file, c.logind)), c.want);
  }
}

}  // namespace
}  // namespace zibbet
