// buddy_file_fuzz.cpp - arbitrary bytes as a buddy file, through the loader,
// which stops at a line it cannot use and says why.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "buddy/sources.h"

namespace {

// expected_name - the name a complete buddy line gives (the text up to a
// NUL; before the first colon when option text follows it).
std::string_view expected_name(std::string_view line) {
  line = line.substr(0, line.find('\0'));
  std::size_t colon = line.find(':');
  if (colon != std::string_view::npos && colon + 1 < line.size()) return line.substr(0, colon);
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;  // fmemopen wants at least one byte
  std::string bytes(reinterpret_cast<const char*>(data), size);
  std::FILE* in = fmemopen(bytes.data(), bytes.size(), "r");
  if (in == nullptr) return 0;
  zibbet::buddy_table table;
  zibbet::notice_book book{zibbet::buddy_notice{}};
  zibbet::load_outcome error = zibbet::load_buddy_lines(in, table, "zibbet", book);
  std::fclose(in);

  // The lines as the file holds them: each up to and with its newline.
  std::vector<std::string_view> lines;
  std::string_view rest(bytes);
  while (!rest.empty()) {
    std::size_t nl = rest.find('\n');
    std::size_t len = nl == std::string_view::npos ? rest.size() : nl + 1;
    lines.push_back(rest.substr(0, len));
    rest.remove_prefix(len);
  }

  std::vector<zibbet::buddy*> held = table.items();
  if (held.size() > lines.size()) std::abort();
  if (table.size() != held.size()) std::abort();
  for (const zibbet::buddy* b : held) {
    // Lines are never merged: no name spans a newline or holds a NUL.
    if (b->name.find_first_of(std::string_view("\n\0", 2)) != std::string::npos) std::abort();
  }
  if (error == zibbet::load_outcome::ok) {
    // Every line made a buddy, held by its name (or an equal one before it).
    for (std::string_view line : lines) {
      if (table.find(expected_name(line)) == nullptr) std::abort();
    }
  }
  return 0;
}
