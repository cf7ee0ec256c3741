// sources.cpp - the sources of buddies: the -u list, the buddy file (or
// standard input) and the password database.
#include "buddy/sources.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/diag.h"
#include "common/unique_fd.h"

namespace zibbet {

namespace {

constexpr std::string_view list_delimiters = " \t\n,:";

// line_reader - getline's buffer, released when the reader goes.
struct line_reader {
  char* buf = nullptr;
  std::size_t cap = 0;
  line_reader() = default;
  line_reader(const line_reader&) = delete;
  line_reader& operator=(const line_reader&) = delete;
  ~line_reader() { std::free(buf); }
};

// read_line - the next line of `in` with its newline, if it has one, and
// with whatever bytes it holds (NUL included); false at the end of the
// input or on a read error, when a line read in part is dropped. A last
// line without a newline is a line all the same.
bool read_line(std::FILE* in, line_reader& reader, std::string& line) {
  line.clear();
  for (;;) {
    errno = 0;
    ssize_t n = getline(&reader.buf, &reader.cap, in);
    if (n > 0) {
      line.append(reader.buf, static_cast<std::size_t>(n));
      if (line.back() == '\n') return true;
    }
    if (std::ferror(in) != 0) {
      // An interrupted read goes on with the same line; any other failure
      // ends the input quietly.
      if (errno == EINTR) {
        std::clearerr(in);
        continue;
      }
      return false;
    }
    if (std::feof(in) != 0) return !line.empty();
    if (n < 0) return false;  // getline failed without a stream error
  }
}

// watch_yourself - the fallback of a buddy file that cannot be read: the
// running user becomes the buddy (no duplicate warning: -u may name them).
void watch_yourself(const std::string& own_name, buddy_table& table, const notice_book& book) {
  say("defaulting to just watching yourself...\n");
  table.insert(buddy{own_name, nullptr, book.run()});
}

// open_buddyfile - the file at `path` opened for reading, or null with the
// error number in `err`. The open never waits: a FIFO without a writer is
// opened at once (and then reads as empty), and a directory is refused.
std::FILE* open_buddyfile(const std::string& path, int& err) {
  unique_fd fd;
  do {
    fd.reset(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  } while (!fd && errno == EINTR);
  if (!fd) {
    err = errno;
    return nullptr;
  }
  struct stat st {};
  if (fstat(fd.get(), &st) != 0) {
    err = errno;
    return nullptr;
  }
  if (S_ISDIR(st.st_mode)) {
    err = EISDIR;
    return nullptr;
  }
  int flags = fcntl(fd.get(), F_GETFL);
  if (flags < 0 || fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    err = errno;
    return nullptr;
  }
  std::FILE* in = fdopen(fd.get(), "r");
  if (in == nullptr) {
    err = errno;
    return nullptr;
  }
  (void)fd.release();  // the stream owns it now
  return in;
}

}  // namespace

void load_user_list(std::string_view list, buddy_table& table, const notice_book& book) {
  std::size_t pos = 0;
  while (pos < list.size()) {
    std::size_t end = list.find_first_of(list_delimiters, pos);
    if (end == std::string_view::npos) end = list.size();
    // Two delimiters in a row, or a leading one, leave an empty token,
    // which names nobody.
    if (end > pos)
      table.insert(buddy{std::string(list.substr(pos, end - pos)), nullptr, book.run()});
    pos = end + 1;
  }
}

load_outcome load_buddy_lines(std::FILE* in, buddy_table& table, const std::string& prog_name,
                              notice_book& book) {
  line_reader reader;
  std::string line;
  while (read_line(in, reader, line)) {
    // The buddy is made first, so a duplicate's option text is still
    // parsed (and may end the run) before the duplicate is dropped.
    parsed_buddy parsed = parse_buddy_line(line, prog_name, book);
    if (!parsed.made) return parsed.outcome;
    std::string name = parsed.made->name;
    if (table.insert(std::move(*parsed.made)) == nullptr)
      warn(prog_name, "warning: duplicate buddy %s", name.c_str());
  }
  return load_outcome::ok;
}

load_outcome load_buddyfile(const options& run, const std::string& own_name, buddy_table& table,
                            notice_book& book) {
  if (run.no_buddyfile) return load_outcome::ok;
  if (!run.buddyfile) {
    say("unable to open ~/.zibbet! (HOME is not set and there is no home directory)\n");
    watch_yourself(own_name, table, book);
    return load_outcome::ok;
  }
  const std::string& path = *run.buddyfile;
  if (path == "-") return load_buddy_lines(stdin, table, run.prog_name, book);
  int err = 0;
  std::FILE* in = open_buddyfile(path, err);
  if (in == nullptr) {
    say("unable to open %s! (%s)\n", path.c_str(), std::strerror(err));
    watch_yourself(own_name, table, book);
    return load_outcome::ok;
  }
  // Room for a buddy for every 8 bytes of the file (up to a million), so
  // that the table does not rehash its nodes again and again as it grows.
  struct stat st {};
  if (fstat(fileno(in), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    constexpr std::size_t most = std::size_t{1} << 20;
    table.reserve(table.size() + std::min(static_cast<std::size_t>(st.st_size) / 8, most));
  }
  load_outcome outcome = load_buddy_lines(in, table, run.prog_name, book);
  std::fclose(in);
  return outcome;
}

void load_all_users(buddy_table& table, const notice_book& book) {
  // The names are gathered first and the buddies made after endpwent, so
  // nothing that making a buddy may look up can disturb the enumeration.
  std::vector<std::string> names;
  setpwent();
  while (const passwd* pw = getpwent()) {
    if (pw->pw_name != nullptr) names.emplace_back(pw->pw_name);
  }
  endpwent();
  for (std::string& name : names) table.insert(buddy{std::move(name), nullptr, book.run()});
}

}  // namespace zibbet
