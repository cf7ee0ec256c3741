// buddy_line_fuzz.cpp - arbitrary buddy lines into buddies.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "buddy/buddy.h"
#include "buddy/option_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string prog_name = "zibbet";
  std::string_view raw(reinterpret_cast<const char*>(data), size);
  zibbet::notice_book book{zibbet::buddy_notice{}};
  zibbet::parsed_buddy parsed = zibbet::parse_buddy_line(raw, prog_name, book);
  const zibbet::load_outcome error = parsed.outcome;
  const std::optional<zibbet::buddy>& b = parsed.made;

  // The line is the text up to its first NUL; it has option text exactly
  // when its first colon stands before its last byte.
  std::string_view line = raw.substr(0, raw.find('\0'));
  std::size_t colon = line.find(':');
  bool has_options = colon != std::string_view::npos && colon + 1 < line.size();

  if (error != zibbet::load_outcome::ok) {
    // Only option text can make a line fail, and a failed line makes nothing.
    if (b.has_value() || !has_options) std::abort();
    if (error == zibbet::load_outcome::quoting) {
      if (zibbet::split_option_text(line.substr(colon + 1), prog_name)) std::abort();
    }
    return 0;
  }
  if (!b.has_value()) std::abort();
  if (b->name.find('\0') != std::string::npos) std::abort();
  if (b->notice == nullptr || (b->notice != book.run()) != has_options) std::abort();
  if (b->presences != nullptr) std::abort();  // no login yet, no table yet

  std::string_view want = line;
  if (has_options) {
    want = line.substr(0, colon);
  } else if (!want.empty() && want.back() == '\n') {
    want.remove_suffix(1);
  }
  if (b->name != want) std::abort();

  return 0;
}
