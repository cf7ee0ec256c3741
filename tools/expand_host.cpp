// expand_host.cpp - test tool: expands a template against a login from
// the given remote host and prints the result, so that host-name lookups
// can be tried under a preloaded resolver (nss_wrapper).
#include <cstdio>
#include <cstring>

#include "watch/expand.h"

// main - expand_host HOST TEMPLATE: prints the expansion for user
// "alice" on line "pts/3"; status 2 on bad usage.
int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: expand_host HOST TEMPLATE\n", stderr);
    return 2;
  }
  utmpx rec;
  std::memset(&rec, 0, sizeof rec);
  rec.ut_type = USER_PROCESS;
  std::strncpy(rec.ut_user, "alice", sizeof rec.ut_user);
  std::strncpy(rec.ut_line, "pts/3", sizeof rec.ut_line);
  std::strncpy(rec.ut_host, argv[1], sizeof rec.ut_host);
  zibbet::presence p{rec, zibbet::PRESENCE_NEW};
  zibbet::settings run;
  run.prog_name = "expand_host";
  zibbet::watch_context ctx{run};
  std::optional<std::string> text = zibbet::bud_expand_fmt(ctx, &p, argv[2]);
  if (!text) return 1;
  std::fwrite(text->data(), 1, text->size(), stdout);
  return 0;
}
