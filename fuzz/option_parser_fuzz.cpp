// option_parser_fuzz.cpp - arbitrary argument vectors through the option
// parser: words are the input split at NUL bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "buddy/options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words{"zibbet"};
  std::string word;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word.push_back(static_cast<char>(data[i]));
    }
  }
  words.push_back(word);
  if (words.size() > 64) return 0;

  zibbet::arg_vector args(words);
  zibbet::options s;
  zibbet::parse_outcome outcome = zibbet::parse_options(args.argc(), args.argv(), s);
  if (outcome != zibbet::parse_outcome::ok) return 0;
  // What every finished parse promises.
  if (s.interval < 1 || s.interval > 0x7fffffffU) std::abort();
  if (s.prog_name != "zibbet") std::abort();
  if (!s.no_buddyfile && !s.buddyfile && std::getenv("HOME") != nullptr) std::abort();
  if (s.process_once && !s.process_current) std::abort();
  return 0;
}
