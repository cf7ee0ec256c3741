// buddy.cpp - a buddy from a buddy line, and the notices buddies point to.
#include "buddy/buddy.h"

#include <utility>

#include "buddy/option_text.h"

namespace zibbet {

buddy_notice notice_of(const options& o) {
  return {o.status_message, o.message, o.exec_command, o.write_buddies};
}

notice_book::notice_book(buddy_notice run)
    : run_(std::make_unique<const buddy_notice>(std::move(run))) {}

const buddy_notice* notice_book::keep(buddy_notice own) {
  own_.push_back(std::make_unique<const buddy_notice>(std::move(own)));
  return own_.back().get();
}

presence_table& presences_of(buddy& b) {
  if (!b.presences) b.presences = std::make_unique<presence_table>();
  return *b.presences;
}

parsed_buddy parse_buddy_line(std::string_view line, const std::string& prog_name,
                              notice_book& book) {
  line = line.substr(0, line.find('\0'));  // the line is text up to a NUL

  buddy b;
  b.notice = book.run();
  std::size_t colon = line.find(':');
  std::size_t c = colon == std::string_view::npos ? line.size() : colon;
  std::string_view name = line;

  // The colon test comes before the newline test: "bob:\n" has option
  // text (the newline alone) and so gets a notice of the defaults.
  if (line.size() >= 1 && c < line.size() - 1) {
    name = line.substr(0, c);
    std::optional<arg_vector> words = split_option_text(line.substr(c + 1), prog_name);
    if (!words) return {std::nullopt, load_outcome::quoting};
    options own;
    switch (parse_options(words->argc(), words->argv(), own)) {
      case parse_outcome::ok: break;
      case parse_outcome::help: return {std::nullopt, load_outcome::help};
      case parse_outcome::version: return {std::nullopt, load_outcome::version};
    }
    b.notice = book.keep(notice_of(own));
  } else if (!line.empty() && line.back() == '\n') {
    name.remove_suffix(1);
  }
  b.name = std::string(name);
  return {std::move(b), load_outcome::ok};
}

}  // namespace zibbet
