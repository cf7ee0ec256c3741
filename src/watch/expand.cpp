// expand.cpp - the template language: one walk over the template that
// appends each piece to the result in memory.
#include "watch/expand.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>

#include "common/login_record.h"

namespace zibbet {

namespace {

// shell_safe - whether a byte from a login record may reach a command as
// it is: letters, digits, ". _ - : / @ +" and every byte above 0x7F.
bool shell_safe(unsigned char c) {
  if (c >= 0x80) return true;
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return c == '.' || c == '_' || c == '-' || c == ':' || c == '/' || c == '@' || c == '+';
}

// append_untrusted - appends a value taken from a login record: control
// bytes become "?" in a text, and in a command every byte outside the
// shell-safe set becomes "_" (control bytes included).
void append_untrusted(std::string& out, std::string_view value, expand_use use) {
  if (use == expand_use::text) {
    append_shown(out, value);
    return;
  }
  for (char ch : value) {
    out += shell_safe(static_cast<unsigned char>(ch)) ? ch : '_';
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

std::optional<std::string> bud_expand_fmt(const watch_context& ctx, const presence* p,
                                          const char* tmpl, expand_use use) {
  if (p == nullptr || tmpl == nullptr) return std::nullopt;
  // Only the run's settings count here, also for a buddy with its own.
  const settings& g = ctx.run;
  const utmpx& rec = p->record;

  // One clock reading per call, shared by every "%d" of the template.
  const std::time_t now = ctx.now();
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
      case 'H': append_untrusted(out, host_address(utmpx_host(rec)), use); break;
      case 'a': out += '\a'; break;
      case 'b': append_untrusted(out, utmpx_user(rec), use); break;
      case 'd':
        if (!local_ready) {
          if (localtime_r(&now, &local) == nullptr) local = std::tm{};
          local_ready = true;
        }
        append_clock(out, local);
        break;
      case 'h': {
        std::string_view host = utmpx_host(rec);
        if (host.empty()) {
          out += "localhost";
        } else {
          append_untrusted(out, host, use);
        }
        break;
      }
      case 'l': {
        // The padding is ours, not the record's: its blanks stay blanks.
        std::string_view line = utmpx_line(rec);
        append_untrusted(out, line, use);
        if (line.size() < 8) out.append(8 - line.size(), ' ');
        break;
      }
      case 'm': out += g.write_buddies != 0 ? "messaging" : "not messaging"; break;
      case 'n': out += '\n'; break;
      case 'o': out += state_text(p->state); break;
      case 'u':
        if (g.own_name) out += *g.own_name;
        break;
      default: out += esc; break;
    }
  }
  if (g.no_newline == 0) out += '\n';
  return out;
}

}  // namespace zibbet
