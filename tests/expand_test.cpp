// expand_test.cpp - the template language: every escape, the final
// newline, the fixed clock, bounded record fields, untrusted field bytes,
// and host-name lookups through nss_wrapper.
#include "watch/expand.h"

#include <gtest/gtest.h>

#include <cstring>

#include "logins/utmp_source.h"
#include "support/context.h"
#include "support/harness.h"
#include "support/platform.h"
#include "support/records.h"

namespace zibbet::test {
namespace {

std::time_t fixed_time = 0;
std::time_t fixed_clock() {
  return fixed_time;
}

// A clock that moves on one second at every reading.
int ticking_reads = 0;
std::time_t ticking_clock() {
  return fixed_time + ticking_reads++;
}

// local_time - a time_t that is h:m:s local time.
std::time_t local_time(int h, int m, int s) {
  std::tm tm{};
  tm.tm_year = 2024 - 1900;
  tm.tm_mon = 5;
  tm.tm_mday = 15;
  tm.tm_hour = h;
  tm.tm_min = m;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

// A run whose own name is bob, with the clock fixed at 09:05:07.
class Expand : public ::testing::Test {
 protected:
  void SetUp() override { fixed_time = local_time(9, 5, 7); }

  // expand - the expansion of `tmpl` for one login.
  std::string expand(const zibbet::login& rec, presence_state state, const char* tmpl,
                     expand_use use = expand_use::text) {
    presence p{rec, state};
    std::optional<std::string> r = bud_expand_fmt(ctx_, &p, tmpl, use);
    EXPECT_TRUE(r.has_value()) << tmpl;
    return r.value_or("<none>");
  }

  watch_settings ctx_{"bob", false, false, fixed_clock};
};

TEST_F(Expand, EscapesAndWorkedExamples) {
  struct {
    const char* what;
    login who;
    presence_state state;
    const char* tmpl;
    std::string want;
  } cases[] = {
      {"default status, new",
       {"alice", "pts/3", ""},
       PRESENCE_NEW,
       default_status_message,
       "(09:05:07)  alice logged on  pts/3    from localhost\n"},
      {"default status, gone",
       {"alice", "pts/3", "10.0.0.7"},
       PRESENCE_GONE,
       default_status_message,
       "(09:05:07)  alice logged off pts/3    from 10.0.0.7\n"},
      {"default greeting",
       {"alice", "pts/3", ""},
       PRESENCE_NEW,
       default_message,
       "(zibbet)  bob says: \"shoutout to my homie alice.\"\n"},
      {"command",
       {"alice", "pts/3", ""},
       PRESENCE_NEW,
       "echo %b on %l",
       "echo alice on pts/3   \n"},
      {"%o seen", {"alice", "pts/3", ""}, PRESENCE_SEEN, "%o", "bummin'\n"},
      {"%l 8 bytes", {"alice", "ttyp1234", ""}, PRESENCE_NEW, "[%l]", "[ttyp1234]\n"},
      {"%l longer", {"alice", "pts/1234567", ""}, PRESENCE_NEW, "[%l]", "[pts/1234567]\n"},
      {"%l empty", {"alice", "", ""}, PRESENCE_NEW, "[%l]", "[        ]\n"},
      {"%h empty host", {"alice", "pts/3", ""}, PRESENCE_NEW, "%h", "localhost\n"},
      {"%H empty host", {"alice", "pts/3", ""}, PRESENCE_NEW, "%H", "127.0.0.1\n"},
      {"%H dotted", {"alice", "pts/3", "10.0.0.7"}, PRESENCE_NEW, "%H", "10.0.0.7\n"},
      {"%h as given", {"alice", "pts/3", "box.example"}, PRESENCE_NEW, "%h", "box.example\n"},
      {"bell and newline", {"alice", "pts/3", ""}, PRESENCE_NEW, "%a%n", "\a\n\n"},
      {"%m global flag 0", {"alice", "pts/3", ""}, PRESENCE_NEW, "%m", "not messaging\n"},
      {"final percent", {"alice", "pts/3", ""}, PRESENCE_NEW, "100%", "100\n"},
      {"percent percent", {"alice", "pts/3", ""}, PRESENCE_NEW, "%%", "%\n"},
      {"unknown escapes", {"alice", "pts/3", ""}, PRESENCE_NEW, "%z%Z%D%5%B%U", "zZD5BU\n"},
      {"no escapes", {"alice", "pts/3", ""}, PRESENCE_NEW, "plain text", "plain text\n"},
      {"empty template", {"alice", "pts/3", ""}, PRESENCE_NEW, "", "\n"},
      {"high bytes of the template",
       {"alice", "pts/3", ""},
       PRESENCE_NEW,
       "caf\xc3\xa9 %b",
       "caf\xc3\xa9 alice\n"},
      {"two clocks", {"alice", "pts/3", ""}, PRESENCE_NEW, "%d-%d", "09:05:07-09:05:07\n"},
  };
  for (const auto& c : cases) {
    zibbet::login rec = login_from(c.who);
    EXPECT_EQ(expand(rec, c.state, c.tmpl), c.want) << c.what;
  }
}

TEST_F(Expand, GlobalFlagsAndNoNewline) {
  zibbet::login rec = login_from({"alice", "pts/3", ""});
  ctx_.messaging = true;
  EXPECT_EQ(expand(rec, PRESENCE_NEW, "%m"), "messaging\n");

  ctx_.no_newline = true;
  EXPECT_EQ(expand(rec, PRESENCE_NEW, "%b"), "alice");
  EXPECT_EQ(expand(rec, PRESENCE_NEW, "%b%n"), "alice\n");  // %n still prints one
  EXPECT_EQ(expand(rec, PRESENCE_NEW, ""), "");
  EXPECT_EQ(expand(rec, PRESENCE_NEW, "%o", expand_use::command), "logged on ");

  ctx_.own_name.reset();
  EXPECT_EQ(expand(rec, PRESENCE_NEW, "[%u]"), "[]");
}

TEST_F(Expand, MissingTemplateOrPresenceGivesNone) {
  zibbet::login rec = login_from({"alice", "pts/3", ""});
  presence p{rec, PRESENCE_NEW};
  EXPECT_EQ(bud_expand_fmt(ctx_, &p, nullptr), std::nullopt);
  EXPECT_EQ(bud_expand_fmt(ctx_, nullptr, "%b"), std::nullopt);
  EXPECT_EQ(bud_expand_fmt(ctx_, nullptr, nullptr, expand_use::command), std::nullopt);
}

TEST_F(Expand, OneClockReadingPerCall) {
  ticking_reads = 0;
  ctx_.clock = ticking_clock;
  zibbet::login rec = login_from({"alice", "pts/3", ""});
  // Every %d of one call shows the same second; the next call reads anew.
  EXPECT_EQ(expand(rec, PRESENCE_NEW, "%d %d %d"), "09:05:07 09:05:07 09:05:07\n");
  EXPECT_EQ(expand(rec, PRESENCE_NEW, "%d %d"), "09:05:08 09:05:08\n");
}

TEST_F(Expand, FullWidthFieldsAreShownWhole) {
  const login_widths w = host_login_widths();
  const std::string line(w.line, 'L');
  const std::string user(w.user, 'U');
  const std::string host(w.host, 'h');
  zibbet::login rec = login_from({user, line, host});
  EXPECT_EQ(expand(rec, PRESENCE_NEW, "%l|%b|%h"), line + "|" + user + "|" + host + "\n");
}

TEST_F(Expand, UntrustedRecordBytes) {
  struct {
    const char* what;
    login who;
    const char* tmpl;
    expand_use use;
    std::string want;
  } cases[] = {
      // Texts: control bytes of record values become "?"; everything else,
      // and the template's own bytes, pass.
      {"escape in user",
       {"al\x1b]0;x\x07ice", "pts/3", ""},
       "%b",
       expand_use::text,
       "al?]0;x?ice\n"},
      {"tab in line keeps our padding",
       {"alice", "pts\t1", ""},
       "[%l]",
       expand_use::text,
       "[pts?1   ]\n"},
      {"DEL and high bytes in host",
       {"alice", "pts/3", "a\x7f\xc3\xa9"},
       "%h",
       expand_use::text,
       "a?\xc3\xa9\n"},
      {"shell bytes stay in a text",
       {"alice", "pts/3", "x;y $(id)"},
       "%h",
       expand_use::text,
       "x;y $(id)\n"},
      {"template's own control bytes",
       {"alice", "pts/3", ""},
       "\x1b[1m%b%a",
       expand_use::text,
       "\x1b[1malice\a\n"},
      // Commands: record bytes outside the safe set become "_".
      {"shell syntax in host",
       {"alice", "pts/3", "x';rm -rf ~;'$(id)`w`"},
       "echo '%h'",
       expand_use::command,
       "echo 'x__rm_-rf______id__w_'\n"},
      {"control byte in a command",
       {"al\x1bice", "pts/3", ""},
       "%b",
       expand_use::command,
       "al_ice\n"},
      {"padding stays blank", {"alice", "a b", ""}, "[%l]", expand_use::command, "[a_b     ]\n"},
      {"ordinary values pass",
       {"a.b_c-d+e", "pts/3", "user@box.example:0"},
       "%b %l %h",
       expand_use::command,
       "a.b_c-d+e pts/3    user@box.example:0\n"},
      {"high bytes pass", {"j\xc3\xb6rg", "pts/3", ""}, "%b", expand_use::command, "j\xc3\xb6rg\n"},
      {"template's own shell bytes",
       {"alice", "pts/3", ""},
       "echo \"%b\" | wc; %o",
       expand_use::command,
       "echo \"alice\" | wc; logged on \n"},
  };
  for (const auto& c : cases) {
    zibbet::login rec = login_from(c.who);
    EXPECT_EQ(expand(rec, PRESENCE_NEW, c.tmpl, c.use), c.want) << c.what;
  }
}

TEST_F(Expand, LongResultsDoNotBlock) {
  // Far beyond what a pipe holds with nobody reading.
  std::string tmpl;
  for (int i = 0; i < 40000; ++i) tmpl += "%b %l|";
  zibbet::login rec = login_from({"alice", "pts/3", ""});
  std::string got = expand(rec, PRESENCE_NEW, tmpl.c_str());
  ASSERT_EQ(got.size(), 40000u * 15u + 1u);
  EXPECT_EQ(got.substr(0, 30), "alice pts/3   |alice pts/3   |");
}

// %H through the resolver: the expand_host tool runs under nss_wrapper with
// a hosts file of our own.
TEST(ExpandResolver, NamesFromTheHostsFile) {
  if (auto why = skip_reason_under_emulation(emulation_need::host_preload)) GTEST_SKIP() << *why;
  if (nss_wrapper_lib().empty()) GTEST_SKIP() << "nss_wrapper is not installed";
  temp_dir dir;
  std::string hosts = dir.write_file("hosts", "192.0.2.10 host.example host\n");
  std::string passwd = dir.write_file("passwd", "alice:x:4242:4242::/tmp:/bin/sh\n");
  std::string group = dir.write_file("group", "alice:x:4242:\n");
  struct {
    std::string host;
    std::string want;
  } cases[] = {
      {"host.example", "192.0.2.10 192.0.2.10\n"},
      {"HOST", "192.0.2.10 192.0.2.10\n"},
      {"unknown.invalid", "n/a n/a\n"},
      {"", "127.0.0.1 127.0.0.1\n"},
      {"198.51.100.4", "198.51.100.4 198.51.100.4\n"},
  };
  for (const auto& c : cases) {
    run_options opts;
    opts.program = tools_dir() + "/expand_host";
    opts.args = {c.host, "%H %H"};
    opts.env = {preload({nss_wrapper_lib()}), "NSS_WRAPPER_HOSTS=" + hosts,
                "NSS_WRAPPER_PASSWD=" + passwd, "NSS_WRAPPER_GROUP=" + group};
    run_result r = run(opts);
    EXPECT_EQ(r.exit_code, 0) << c.host << ": " << r.err;
    EXPECT_EQ(r.out, c.want) << c.host;
    EXPECT_EQ(r.err, "") << c.host;  // a failed lookup says nothing
  }
}

}  // namespace
}  // namespace zibbet::test
