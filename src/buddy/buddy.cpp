// buddy.cpp - a buddy from a buddy line.
#include "buddy/buddy.h"

#include "buddy/option_text.h"

namespace zibbet {

presence_table& presences_of(buddy& b) {
  if (!b.presences) b.presences = std::make_unique<presence_table>();
  return *b.presences;
}

parsed_buddy parse_buddy_line(std::string_view line, const std::string& prog_name) {
  line = line.substr(0, line.find('\0'));  // the line is text up to a NUL

  buddy b;
  std::size_t colon = line.find(':');
  std::size_t c = colon == std::string_view::npos ? line.size() : colon;
  std::string_view name = line;

  // The colon test comes before the newline test: "bob:\n" has option
  // text (the newline alone) and so gets an override record of defaults.
  if (line.size() >= 1 && c < line.size() - 1) {
    name = line.substr(0, c);
    std::optional<arg_vector> words = split_option_text(line.substr(c + 1), prog_name);
    if (!words) return {std::nullopt, load_outcome::quoting};
    b.overrides = std::make_unique<settings>();
    switch (parse_options(words->argc(), words->argv(), *b.overrides)) {
      case parse_outcome::ok: break;
      case parse_outcome::help: return {std::nullopt, load_outcome::help};
      case parse_outcome::version: return {std::nullopt, load_outcome::version};
    }
  } else if (!line.empty() && line.back() == '\n') {
    name.remove_suffix(1);
  }
  b.name = std::string(name);
  return {std::move(b), load_outcome::ok};
}

}  // namespace zibbet
