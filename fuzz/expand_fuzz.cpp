// expand_fuzz.cpp - arbitrary templates against records with arbitrary
// fields, checking that no byte from a record can reach a terminal as a
// control byte, or a command as anything outside the shell-safe set.
//
// Input: one byte of flags, three field lengths, the field bytes, and the
// template. The template loses its control bytes and the escapes that
// make control bytes ("%a", "%n") or ask the resolver ("%H"), so that any
// forbidden byte in the result can only have come from the record.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "buddy/presence.h"
#include "logins/utmp_source.h"
#include "watch/expand.h"

namespace {

// is_control - the bytes a record may never put on a terminal.
bool is_control(unsigned char c) {
  return c < 0x20 || c == 0x7f;
}

// is_shell_safe - the bytes a record may put into a command as they are.
bool is_shell_safe(unsigned char c) {
  if (c >= 0x80) return true;
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::strchr("._-:/@+", c) != nullptr && c != '\0';
}

// fixed_clock - a clock that does not move.
std::time_t fixed_clock() {
  return 1700000000;
}

// take - the next `n` input bytes (fewer at the end).
std::string_view take(std::string_view& in, std::size_t n) {
  std::string_view part = in.substr(0, n);
  in.remove_prefix(part.size());
  return part;
}

// safe_template - the template without control bytes, and with "%a", "%n"
// and "%H" turned into "%b"; pairs are read as the expander reads them.
std::string safe_template(std::string_view raw) {
  std::string t;
  for (char c : raw) {
    if (!is_control(static_cast<unsigned char>(c))) t += c;
  }
  for (std::size_t i = 0; i + 1 < t.size(); ++i) {
    if (t[i] != '%') continue;
    if (t[i + 1] == 'a' || t[i + 1] == 'n' || t[i + 1] == 'H') t[i + 1] = 'b';
    ++i;  // the escape's byte is never the start of another escape
  }
  return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::string_view in(reinterpret_cast<const char*>(data), size);
  const auto flags = static_cast<unsigned char>(in[0]);
  const auto user_len = static_cast<unsigned char>(in[1]);
  const auto line_len = static_cast<unsigned char>(in[2]);
  const auto host_len = static_cast<unsigned char>(in[3]);
  in.remove_prefix(4);

  // Each field may fill its whole width (the host's 256 bytes on glibc).
  const zibbet::login_widths w = zibbet::host_login_widths();
  std::string_view user = take(in, user_len % (w.user + 1));
  std::string_view line = take(in, line_len % (w.line + 1));
  std::string_view host = take(in, (host_len * 2U) % (w.host + 2));
  const zibbet::login rec(zibbet::bounded_login({user, line, host}, w));
  const std::string tmpl = safe_template(in);

  zibbet::watch_settings g;
  g.no_newline = (flags & 1U) != 0;
  g.messaging = ((flags >> 1) & 1U) != 0;
  g.own_name = "me";
  g.clock = fixed_clock;
  const zibbet::expand_use use =
      (flags & 4U) != 0 ? zibbet::expand_use::command : zibbet::expand_use::text;

  const zibbet::presence p{rec, static_cast<zibbet::presence_state>((flags >> 3) % 3U)};
  std::optional<std::string> out = zibbet::bud_expand_fmt(g, &p, tmpl.c_str(), use);
  if (!out) std::abort();
  std::string_view text = *out;

  if (!g.no_newline) {
    if (text.empty() || text.back() != '\n') std::abort();
    text.remove_suffix(1);
  }

  // Bytes that may appear in the result without having come from the
  // record: the template's own, and those of the escapes' fixed texts.
  std::array<bool, 256> ours{};
  for (std::string_view s :
       {std::string_view(tmpl), std::string_view("logged on logged off"),
        std::string_view("bummin' not messaging localhost me"), std::string_view("0123456789:")}) {
    for (char c : s) ours[static_cast<unsigned char>(c)] = true;
  }
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    if (is_control(c)) std::abort();  // no escape left here makes one
    if (use == zibbet::expand_use::command && !is_shell_safe(c) && !ours[c]) std::abort();
  }
  // "%l" pads, but never cuts a line of any length.
  if (tmpl == "%l" && text.size() < 8) std::abort();
  return 0;
}
