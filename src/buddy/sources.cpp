// sources.cpp - the sources of buddies: the -u list, the buddy file (or
// standard input) and the password database.
#include "buddy/sources.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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
void watch_yourself(buddy_table& table) {
  std::unique_ptr<buddy> me = buddy_new(global_settings.own_name.value_or(""));
  std::fputs("defaulting to just watching yourself...\n", stderr);
  table.insert(std::move(me));
}

// open_buddyfile - the file at `path` opened for reading, or null with the
// error number in `err`. The open never waits: a FIFO without a writer is
// opened at once (and then reads as empty), and a directory is refused.
std::FILE* open_buddyfile(const std::string& path, int& err) {
  int fd = -1;
  do {
    fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    err = errno;
    return nullptr;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    err = S_ISDIR(st.st_mode) ? EISDIR : errno;
    close(fd);
    return nullptr;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    err = errno;
    close(fd);
    return nullptr;
  }
  std::FILE* in = fdopen(fd, "r");
  if (in == nullptr) {
    err = errno;
    close(fd);
  }
  return in;
}

// load_lines - a buddy for every line of `in`, made by `make` (which
// reports through its second argument why a line made none), warning about
// duplicates; stops at the first line that made no buddy and returns why.
template <class Make>
buddy_line_error load_lines(std::FILE* in, buddy_table& table, Make make) {
  line_reader reader;
  std::string line;
  while (read_line(in, reader, line)) {
    // The buddy is made first, so a duplicate's option text is still
    // parsed (and may end the program) before the duplicate is dropped.
    buddy_line_error error = buddy_line_error::none;
    std::unique_ptr<buddy> b = make(line, error);
    if (!b) return error;
    if (table.find(b->name) != nullptr) {
      std::fprintf(stderr, "%s: warning: duplicate buddy %s\n", global_settings.prog_name.c_str(),
                   b->name.c_str());
      continue;
    }
    table.insert(std::move(b));
  }
  return buddy_line_error::none;
}

}  // namespace

void load_user_list(std::string_view list, buddy_table& table) {
  std::size_t pos = 0;
  while (pos < list.size()) {
    std::size_t end = list.find_first_of(list_delimiters, pos);
    if (end == std::string_view::npos) end = list.size();
    // Two delimiters in a row, or a leading one, leave an empty token,
    // which names nobody.
    if (end > pos) table.insert(buddy_new(list.substr(pos, end - pos)));
    pos = end + 1;
  }
}

void load_buddy_lines(std::FILE* in, buddy_table& table) {
  // buddy_new ends the program itself on a line it cannot use.
  (void)load_lines(in, table,
                   [](std::string_view line, buddy_line_error&) { return buddy_new(line); });
}

buddy_line_error try_load_buddy_lines(std::FILE* in, buddy_table& table) {
  return load_lines(in, table, buddy_from_line);
}

int load_buddyfile(const std::optional<std::string>& path, buddy_table& table) {
  if (global_settings.no_buddyfile != 0) return 0;
  if (!path) {
    std::fputs("unable to open ~/.zibbet! (HOME is not set and there is no home directory)\n",
               stderr);
    watch_yourself(table);
    return 0;
  }
  if (*path == "-") {
    load_buddy_lines(stdin, table);
    return 0;
  }
  int err = 0;
  std::FILE* in = open_buddyfile(*path, err);
  if (in == nullptr) {
    std::fprintf(stderr, "unable to open %s! (%s)\n", path->c_str(), std::strerror(err));
    watch_yourself(table);
    return 0;
  }
  load_buddy_lines(in, table);
  std::fclose(in);
  return 0;
}

void load_all_users(buddy_table& table) {
  // The names are gathered first and the buddies made after endpwent, so
  // nothing that making a buddy may look up can disturb the enumeration.
  std::vector<std::string> names;
  setpwent();
  while (const passwd* pw = getpwent()) {
    if (pw->pw_name != nullptr) names.emplace_back(pw->pw_name);
  }
  endpwent();
  for (const std::string& name : names) table.insert(buddy_new(name));
}

}  // namespace zibbet
