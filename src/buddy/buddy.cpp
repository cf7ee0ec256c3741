// buddy.cpp - making a buddy from a buddy line.
#include "buddy/buddy.h"

#include <cstdlib>

#include "buddy/option_text.h"

namespace zibbet {

presence_table& presences_of(buddy& b) {
  if (!b.presences)
    b.presences = std::make_unique<presence_table>(ht_create(table_buckets, presence_scheme));
  return *b.presences;
}

std::unique_ptr<buddy> buddy_from_line(std::string_view line, buddy_line_error& error) {
  error = buddy_line_error::none;
  line = line.substr(0, line.find('\0'));  // the line is text up to a NUL

  auto b = std::make_unique<buddy>();
  std::size_t colon = line.find(':');
  std::size_t c = colon == std::string_view::npos ? line.size() : colon;
  std::string_view name = line;

  // The colon test comes before the newline test: "bob:\n" has option
  // text (the newline alone) and so gets an override record of defaults.
  if (line.size() >= 1 && c < line.size() - 1) {
    name = line.substr(0, c);
    arg_vector words;
    if (split_option_text(line.substr(c + 1), words) < 0) {
      error = buddy_line_error::quoting;
      return nullptr;
    }
    b->overrides = std::make_unique<settings>();
    switch (parse_options(words.argc(), words.argv(), *b->overrides)) {
      case parse_outcome::ok: break;
      case parse_outcome::help: error = buddy_line_error::help; return nullptr;
      case parse_outcome::version: error = buddy_line_error::version; return nullptr;
    }
  } else if (!line.empty() && line.back() == '\n') {
    name.remove_suffix(1);
  }
  b->name = std::string(name);
  return b;
}

std::unique_ptr<buddy> buddy_new(std::string_view line) {
  buddy_line_error error = buddy_line_error::none;
  std::unique_ptr<buddy> b = buddy_from_line(line, error);
  switch (error) {
    case buddy_line_error::none: break;
    case buddy_line_error::quoting: bail("error parsing config file\n", 1);
    case buddy_line_error::help:
      print_version();
      print_usage();
      std::exit(0);
    case buddy_line_error::version:
      print_version();
      std::exit(0);
  }
  return b;
}

}  // namespace zibbet
