// freebsd_utx.cpp - FreeBSD's active-logins records decoded from bytes,
// encoded into bytes, and a file of them read in chunks under a shared
// flock.
#include "logins/freebsd_utx.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include "common/unique_fd.h"

namespace zibbet {

namespace {

using namespace freebsd_utx;

// How long a writer may hold its lock before a pass gives up.
constexpr std::chrono::seconds lock_timeout{10};

// big_endian - the unsigned number in the `width` bytes at `p`, most
// significant byte first.
std::uint64_t big_endian(const unsigned char* p, std::size_t width) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < width; ++i) v = (v << 8) | p[i];
  return v;
}

// put_big_endian - writes `v` into the `width` bytes at `p`, most
// significant byte first.
void put_big_endian(unsigned char* p, std::size_t width, std::uint64_t v) {
  for (std::size_t i = width; i-- > 0;) {
    p[i] = static_cast<unsigned char>(v & 0xffu);
    v >>= 8;
  }
}

// text_field - the text at `offset`, up to its NUL or its `width`.
std::string_view text_field(const unsigned char* record, std::size_t offset, std::size_t width) {
  return bounded(std::string_view(reinterpret_cast<const char*>(record + offset), width), width);
}

// put_text - copies `text` into the field at `offset`, cut to `width`,
// the rest of the field NUL.
void put_text(unsigned char* record, std::size_t offset, std::size_t width, std::string_view text) {
  std::size_t n = std::min(text.size(), width);
  // An empty view may have no data at all, which memcpy must not be given.
  if (n != 0) std::memcpy(record + offset, text.data(), n);
  std::memset(record + offset + n, 0, width - n);
}

// lock_shared - takes a shared flock on the file, waiting at most
// lock_timeout for a writer's exclusive one to go. Returns whether it
// holds it.
bool lock_shared(int fd) {
  auto deadline = std::chrono::steady_clock::now() + lock_timeout;
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    // Not a blocking LOCK_SH: a writer that never lets go must not stall
    // the watcher for ever.
    if (flock(fd, LOCK_SH | LOCK_NB) == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(pause);
    if (pause < std::chrono::milliseconds(50)) pause *= 2;
  }
}

}  // namespace

freebsd_utx_fields decode_freebsd_utx_fields(const unsigned char* record) {
  return freebsd_utx_fields{
      record[type_offset],
      big_endian(record + time_offset, time_width),
      text_field(record, id_offset, id_width),
      static_cast<std::uint32_t>(big_endian(record + pid_offset, pid_width)),
      text_field(record, user_offset, user_width),
      text_field(record, line_offset, line_width),
      text_field(record, host_offset, host_width),
  };
}

std::optional<login_view> decode_freebsd_utx(const unsigned char* record,
                                             const login_widths& widths) {
  if (record[type_offset] != user_process) return std::nullopt;
  freebsd_utx_fields f = decode_freebsd_utx_fields(record);
  // The views already end at their own field; widths may cut them shorter.
  return bounded_login({f.user, f.line, f.host}, widths);
}

std::array<unsigned char, record_size> encode_freebsd_utx(
    std::uint8_t type, std::uint64_t time_usec, std::string_view id, std::uint32_t pid,
    std::string_view user, std::string_view line, std::string_view host) {
  std::array<unsigned char, record_size> r{};
  r[type_offset] = type;
  put_big_endian(r.data() + time_offset, time_width, time_usec);
  put_text(r.data(), id_offset, id_width, id);
  put_big_endian(r.data() + pid_offset, pid_width, pid);
  put_text(r.data(), user_offset, user_width, user);
  put_text(r.data(), line_offset, line_width, line);
  put_text(r.data(), host_offset, host_width, host);
  return r;
}

bool read_freebsd_utx(int fd, std::vector<unsigned char>& chunk, const login_widths& widths,
                      const std::function<void(const login_view&)>& each) {
  struct stat st {};
  // Only a plain file is an array of records; a device or a pipe could be
  // read for ever.
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (!lock_shared(fd)) return false;

  const std::size_t capacity = chunk_records * record_size;
  if (chunk.size() != capacity) chunk.resize(capacity);
  bool whole_file = true;
  off_t offset = 0;      // pread from the start: the descriptor's own offset is left alone
  std::size_t held = 0;  // bytes in the chunk, a partial record included
  for (;;) {
    ssize_t n = pread(fd, chunk.data() + held, capacity - held, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) whole_file = false;
    if (n <= 0) break;  // the end, or an error: what came whole counts
    offset += static_cast<off_t>(n);
    held += static_cast<std::size_t>(n);
    std::size_t whole = held / record_size;
    for (std::size_t i = 0; i < whole; ++i) {
      if (std::optional<login_view> l =
              decode_freebsd_utx(chunk.data() + i * record_size, widths)) {
        each(*l);
      }
    }
    // A record cut by this read moves to the front and is completed by the
    // next one; one still cut at the end of the file is ignored.
    std::size_t rest = held - whole * record_size;
    if (whole != 0 && rest != 0)
      std::memmove(chunk.data(), chunk.data() + whole * record_size, rest);
    held = rest;
  }
  (void)flock(fd, LOCK_UN);
  return whole_file;
}

bool read_freebsd_utx_file(const std::string& path, std::vector<unsigned char>& chunk,
                           const login_widths& widths,
                           const std::function<void(const login_view&)>& each) {
  // O_NONBLOCK: opening a FIFO without a writer would otherwise wait for
  // one for ever; a plain file reads the same either way.
  unique_fd file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!file) return false;
  return read_freebsd_utx(file.get(), chunk, widths, each);
}

freebsd_records_source::freebsd_records_source(std::string path, const login_widths& widths)
    : path_(std::move(path)), widths_(widths) {}

void freebsd_records_source::read(login_sink sink) {
  // A file that cannot be read gives no logins this pass, as on glibc.
  (void)read_freebsd_utx_file(path_, chunk_, widths_, [&sink](const login_view& l) { sink(l); });
}

}  // namespace zibbet
