// expand.cpp - the template language: one walk over the template that
// appends each piece to the result in memory.
#include "watch/expand.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>

#include "common/untrusted.h"

namespace zibbet {

namespace {

// append_untrusted - appends a value taken from a login: made safe for a
// terminal in a text, and for the shell in a command.
void append_untrusted(std::string& out, std::string_view value, expand_use use) {
  if (use == expand_use::text) {
    append_terminal_safe(out, value);
  } else {
    append_shell_safe(out, value);
  }
}

// host_address - the dotted IPv4 address of `host`: "127.0.0.1" for an
// empty host, "n/a" when the resolver has no IPv4 address for it.
std::string host_address(std::string_view host) {
  if (host.empty()) return "127.0.0.1";
  std::string name(host);
  in_addr addr{};
  // A dotted address needs no resolver (and a preloaded one may not
  // understand it).
  if (inet_pton(AF_INET, name.c_str(), &addr) != 1) {
    const hostent* he = gethostbyname(name.c_str());
    if (he == nullptr || he->h_addrtype != AF_INET || he->h_length != sizeof(in_addr) ||
        he->h_addr_list == nullptr || he->h_addr_list[0] == nullptr)
      return "n/a";
    std::memcpy(&addr, he->h_addr_list[0], sizeof addr);
  }
  char dotted[INET_ADDRSTRLEN];
  if (inet_ntop(AF_INET, &addr, dotted, sizeof dotted) == nullptr) return "n/a";
  return dotted;
}

// append_clock - appends "HH:MM:SS" of `when` in local time.
void append_clock(std::string& out, const std::tm& when) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", when.tm_hour, when.tm_min, when.tm_sec);
  out += buf;
}

// state_text - what "%o" shows for a presence state.
const char* state_text(presence_state state) {
  switch (state) {
    case PRESENCE_NEW: return "logged on ";
    case PRESENCE_GONE: return "logged off";
    default: return "bummin'";
  }
}

}  // namespace

std::optional<std::string> bud_expand_fmt(const watch_settings& ws, const presence* p,
                                          const char* tmpl, expand_use use) {
  if (p == nullptr || tmpl == nullptr) return std::nullopt;
  const login& who = p->who;

  // One clock reading per call, shared by every "%d" of the template.
  const std::time_t now = ws.now();
  std::tm local{};
  bool local_ready = false;

  std::string out;
  out.reserve(std::strlen(tmpl) + 64);
  for (const char* t = tmpl; *t != '\0'; ++t) {
    if (*t != '%') {
      out += *t;
      continue;
    }
    const char esc = *++t;
    if (esc == '\0') break;  // a final "%" gives nothing
    switch (esc) {
      case 'H': append_untrusted(out, host_address(who.host), use); break;
      case 'a': out += '\a'; break;
      case 'b': append_untrusted(out, who.user, use); break;
      case 'd':
        if (!local_ready) {
          if (localtime_r(&now, &local) == nullptr) local = std::tm{};
          local_ready = true;
        }
        append_clock(out, local);
        break;
      case 'h': {
        std::string_view host = who.host;
        if (host.empty()) {
          out += "localhost";
        } else {
          append_untrusted(out, host, use);
        }
        break;
      }
      case 'l': {
        // The padding is ours, not the record's: its blanks stay blanks.
        std::string_view line = who.line;
        append_untrusted(out, line, use);
        if (line.size() < 8) out.append(8 - line.size(), ' ');
        break;
      }
      case 'm': out += ws.messaging ? "messaging" : "not messaging"; break;
      case 'n': out += '\n'; break;
      case 'o': out += state_text(p->state); break;
      case 'u':
        if (ws.own_name) out += *ws.own_name;
        break;
      default: out += esc; break;
    }
  }
  if (!ws.no_newline) out += '\n';
  return out;
}

}  // namespace zibbet
