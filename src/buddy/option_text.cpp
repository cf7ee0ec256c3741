// option_text.cpp - the buddy-file quoting rules: one scan over the bytes
// of an option text that builds its words in memory.
#include "buddy/option_text.h"

#include <string>
#include <vector>

#include "common/diag.h"

namespace zibbet {

namespace {

// is_separator - tab, newline and space end a word; no other byte does
// (a carriage return, a vertical tab or a form feed is word text).
bool is_separator(char c) {
  return c == '\t' || c == '\n' || c == ' ';
}

// word_scanner - the state of one scan: the words so far and whether the
// scan stands between words, where the next word byte starts a new word.
struct word_scanner {
  std::vector<std::string> words;
  bool between_words = true;

  // word - the current word, started first when the scan is between words.
  std::string& word() {
    if (between_words) {
      words.emplace_back();
      between_words = false;
    }
    return words.back();
  }
};

// read_stretch - reads the quoted stretch whose opening quote stands at
// `open` into `into`; returns the position of its closing quote, or npos
// when the text ends first. Only a backslash right before the stretch's own
// quote is dropped, and a quote that follows a backslash in the text never
// closes the stretch, whatever was written for that backslash.
std::size_t read_stretch(std::string_view text, std::size_t open, std::string& into) {
  const char quote = text[open];
  for (std::size_t i = open + 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == quote && text[i - 1] != '\\') return i;
    if (c == '\\' && i + 1 < text.size() && text[i + 1] == quote) continue;
    into.push_back(c);
  }
  return std::string_view::npos;
}

}  // namespace

std::optional<arg_vector> split_option_text(std::string_view text, const std::string& prog_name) {
  text = text.substr(0, text.find('\0'));
  word_scanner scan;
  scan.words.push_back(prog_name);

  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (is_separator(c)) {
      scan.between_words = true;
    } else if (c == '\\') {
      // Outside quotes a backslash shields the byte after it, and both
      // stay in the word: "\ " is a blank inside a word, "\"" opens nothing.
      if (i + 1 == text.size()) {
        say("syntax err: unterminated \\\n");
        return std::nullopt;
      }
      std::string& w = scan.word();
      w.push_back(c);
      w.push_back(text[++i]);
    } else if (c == '"' || c == '\'') {
      // A stretch joins whatever stands right before and after it.
      std::size_t close = read_stretch(text, i, scan.word());
      if (close == std::string_view::npos) {
        say("%s", c == '"' ? "error: unterminated \"\n" : "error: unterminated '\n");
        return std::nullopt;
      }
      i = close;
    } else {
      scan.word().push_back(c);
    }
  }

  return arg_vector(std::move(scan.words));
}

}  // namespace zibbet
