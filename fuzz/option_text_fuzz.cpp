// option_text_fuzz.cpp - arbitrary option texts through the splitter,
// checked against what every split promises without redoing the split:
// the shape of the result, where its bytes can come from, and that
// separators around a text change nothing.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "buddy/option_text.h"

namespace {

using zibbet::arg_vector;

// is_separator - the three bytes that end a word.
bool is_separator(unsigned char c) {
  return c == '\t' || c == '\n' || c == ' ';
}

// is_plain - a byte that no quoting rule ever drops or adds.
bool is_plain(unsigned char c) {
  return !is_separator(c) && c != '"' && c != '\'' && c != '\\' && c != '\0';
}

// byte_counts - how often each byte value occurs in `s`.
std::array<std::size_t, 256> byte_counts(std::string_view s) {
  std::array<std::size_t, 256> n{};
  for (char c : s) ++n[static_cast<unsigned char>(c)];
  return n;
}

const std::string prog_name = "zibbet";

// split - the words after element 0, or nothing on malformed quoting (then
// `ok` is false).
std::vector<std::string> split(std::string_view text, bool& ok) {
  std::optional<arg_vector> split_words = zibbet::split_option_text(text, prog_name);
  ok = split_words.has_value();
  if (!ok) return {};
  arg_vector& out = *split_words;
  const int n = out.argc();
  if (n < 1) std::abort();
  const std::vector<std::string>& w = out.words();
  if (static_cast<int>(w.size()) != n) std::abort();
  if (w[0] != prog_name) std::abort();
  char** argv = out.argv();
  if (argv[n] != nullptr) std::abort();
  for (int i = 0; i < n; ++i) {
    if (argv[i] == nullptr || std::string_view(argv[i]) != w[static_cast<std::size_t>(i)])
      std::abort();  // a NUL inside a word, or a vector out of step
  }
  return {w.begin() + 1, w.end()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view raw(reinterpret_cast<const char*>(data), size);
  // The text ends at its first NUL, as a C string would.
  std::string_view text = raw.substr(0, raw.find('\0'));

  bool ok = false;
  std::vector<std::string> words = split(raw, ok);

  if (!ok) {
    // Only a quote or a final backslash can make a text malformed.
    bool has_quote = text.find_first_of("\"'") != std::string_view::npos;
    if (!has_quote && (text.empty() || text.back() != '\\')) std::abort();
  } else {
    // Every plain byte lands in exactly one word; quotes, backslashes and
    // separators are only ever dropped, never made up.
    std::string joined;
    std::size_t empty_words = 0;
    for (const std::string& w : words) {
      joined += w;
      if (w.empty()) ++empty_words;
    }
    std::array<std::size_t, 256> in = byte_counts(text);
    std::array<std::size_t, 256> got = byte_counts(joined);
    for (std::size_t c = 0; c < 256; ++c) {
      if (is_plain(static_cast<unsigned char>(c)) ? got[c] != in[c] : got[c] > in[c]) std::abort();
    }
    // An empty word needs a pair of quotes of its own.
    if (2 * empty_words > in['"'] + in['\'']) std::abort();
    // A text without quotes or backslashes splits at every separator.
    if (text.find_first_of("\"'\\") == std::string_view::npos) {
      std::vector<std::string> plain;
      std::string cur;
      bool in_word = false;
      for (char c : text) {
        if (is_separator(static_cast<unsigned char>(c))) {
          if (in_word) plain.push_back(cur);
          cur.clear();
          in_word = false;
        } else {
          cur += c;
          in_word = true;
        }
      }
      if (in_word) plain.push_back(cur);
      if (plain != words) std::abort();
    }
  }

  // Words quoted again split back into themselves: each in a double-quoted
  // stretch, its double quotes behind a backslash. (No stretch can end in
  // a backslash, so a word that does is left out.)
  if (ok) {
    std::string quoted;
    bool quotable = true;
    for (const std::string& w : words) {
      if (!w.empty() && w.back() == '\\') quotable = false;
      quoted += " \"";
      for (char c : w) {
        if (c == '"') quoted += '\\';
        quoted += c;
      }
      quoted += '"';
    }
    if (quotable) {
      bool ok_again = false;
      if (split(quoted, ok_again) != words || !ok_again) std::abort();
    }
  }

  // A separator in front never matters; one behind a well-formed text only
  // ends its last word (a line's own newline is exactly that).
  bool ok_front = false;
  std::vector<std::string> front = split(" " + std::string(text), ok_front);
  if (ok_front != ok || front != words) std::abort();
  if (ok) {
    for (const char* tail : {"\n", " ", "\t"}) {
      bool ok_back = false;
      std::vector<std::string> back = split(std::string(text) + tail, ok_back);
      if (!ok_back || back != words) std::abort();
    }
  }
  return 0;
}
