// documents.cpp - reading the commands out of README.md and man/zibbet.1.
#include "support/documents.h"

#include <regex>
#include <sstream>
#include <utility>

#include "support/harness.h"

namespace zibbet::test {

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

namespace {

// without_comment - a line without its trailing comment: blanks, "#" and
// a blank.
std::string without_comment(const std::string& line) {
  static const std::regex comment(R"(\s+# .*$)");
  return std::regex_replace(line, comment, "");
}

// add_line - adds a line of a command to `pending`; a line ending in a
// backslash goes on in the next one, any other ends the command, which
// joins `out`.
void add_line(const std::string& line, std::string& pending, std::vector<shown_command>& out) {
  pending += line;
  if (line.ends_with("\\")) {
    pending += "\n";
    return;
  }
  out.push_back({pending, without_comment(pending)});
  pending.clear();
}

}  // namespace

// readme_commands - the lines of the README's sh blocks; comment lines are
// skipped and a line ending in a backslash goes on in the next one.
std::vector<shown_command> readme_commands() {
  std::vector<shown_command> out;
  std::stringstream in(read_file(source_dir() + "/README.md"));
  bool in_block = false;
  std::string pending;
  for (std::string line; std::getline(in, line);) {
    if (!in_block) {
      in_block = line == "```sh";
      continue;
    }
    if (line == "```") {
      in_block = false;
      continue;
    }
    if (line.find_first_not_of(' ') == std::string::npos ||
        line[line.find_first_not_of(' ')] == '#')
      continue;
    add_line(line, pending, out);
  }
  return out;
}

// man_commands - the example blocks (.EX/.EE) of the page's EXAMPLES, with
// the roff escapes they use turned into the characters a reader sees.
std::vector<shown_command> man_commands() {
  std::vector<shown_command> out;
  std::stringstream in(read_file(source_dir() + "/man/zibbet.1"));
  bool in_examples = false;
  bool in_block = false;
  std::string pending;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with(".SH")) in_examples = line == ".SH EXAMPLES";
    if (!in_examples) continue;
    if (line == ".EX") {
      in_block = true;
    } else if (line == ".EE") {
      in_block = false;
    } else if (in_block) {
      for (auto [from, to] :
           {std::pair{"\\-", "-"}, {"\\(aq", "'"}, {"\\(dq", "\""}, {"\\&", ""}, {"\\e", "\\"}})
        line = replace_all(line, from, to);
      add_line(line, pending, out);
    }
  }
  return out;
}

std::string line_for(const std::string& key) {
  std::vector<shown_command> shown = readme_commands();
  std::vector<shown_command> page = man_commands();
  shown.insert(shown.end(), page.begin(), page.end());
  for (const shown_command& c : shown)
    if (c.key == key) return c.line;
  return key;
}

}  // namespace zibbet::test
