// expand_host.cpp - test tool: expands a template against a login from
// the given remote host and prints the result, so that host-name lookups
// can be tried under a preloaded resolver (nss_wrapper).
#include <cstdio>

#include "watch/expand.h"

// main - expand_host HOST TEMPLATE: prints the expansion for user
// "alice" on line "pts/3"; status 2 on bad usage.
int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: expand_host HOST TEMPLATE\n", stderr);
    return 2;
  }
  zibbet::presence p{zibbet::login("alice", "pts/3", argv[1]), zibbet::PRESENCE_NEW};
  zibbet::watch_settings ws;
  std::optional<std::string> text = zibbet::bud_expand_fmt(ws, &p, argv[2]);
  if (!text) return 1;
  std::fwrite(text->data(), 1, text->size(), stdout);
  return 0;
}
