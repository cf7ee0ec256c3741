// buddy_line_fuzz.cpp - arbitrary buddy lines into buddies, through the
// variant of buddy_new that reports instead of ending the program.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "buddy/buddy.h"
#include "buddy/option_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zibbet::global_settings.prog_name = "zibbet";
  std::string_view raw(reinterpret_cast<const char*>(data), size);
  zibbet::buddy_line_error error = zibbet::buddy_line_error::help;
  std::unique_ptr<zibbet::buddy> b = zibbet::buddy_from_line(raw, error);

  // The line is the text up to its first NUL; it has option text exactly
  // when its first colon stands before its last byte.
  std::string_view line = raw.substr(0, raw.find('\0'));
  std::size_t colon = line.find(':');
  bool has_options = colon != std::string_view::npos && colon + 1 < line.size();

  if (error != zibbet::buddy_line_error::none) {
    // Only option text can make a line fail, and a failed line makes nothing.
    if (b != nullptr || !has_options) std::abort();
    if (error == zibbet::buddy_line_error::quoting) {
      zibbet::arg_vector words;
      if (zibbet::split_option_text(line.substr(colon + 1), words) != -1) std::abort();
    }
    return 0;
  }
  if (b == nullptr) std::abort();
  if (b->name.find('\0') != std::string::npos) std::abort();
  if ((b->overrides != nullptr) != has_options) std::abort();
  if (b->presences != nullptr) std::abort();  // no login yet, no table yet

  std::string_view want = line;
  if (has_options) {
    want = line.substr(0, colon);
  } else if (!want.empty() && want.back() == '\n') {
    want.remove_suffix(1);
  }
  if (b->name != want) std::abort();

  if (b->overrides) {
    const zibbet::settings& o = *b->overrides;
    if (o.interval < 1) std::abort();
    if (o.write_buddies != 0 && o.write_buddies != 1) std::abort();
  }
  return 0;
}
