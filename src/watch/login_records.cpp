// login_records.cpp - reading the host's login records: the portable
// setutxent/getutxent loop, and on glibc one read of the whole file.
#include "watch/login_records.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>
#include <vector>

namespace zibbet {

namespace {

// The file named by set_login_records_file, which wins over the environment.
std::optional<std::string>& named_file() {
  static std::optional<std::string> file;
  return file;
}

}  // namespace

const char* login_records_file() {
  if (const std::optional<std::string>& f = named_file()) return f->c_str();
  const char* env = std::getenv("ZIBBET_UTMP");
  if (env != nullptr && env[0] != '\0') return env;
  return nullptr;
}

void set_login_records_file(const char* path) {
  if (path == nullptr) {
    named_file().reset();
  } else {
    named_file() = path;
  }
}

void read_records_portable(const char* path, login_record_fn fn, void* ctx) {
#if defined(__GLIBC__)
  // The name sticks for the process, so the default is named again.
  if (utmpxname(path != nullptr ? path : _PATH_UTMPX) != 0) return;
#elif defined(__FreeBSD__)
  if (setutxdb(UTXDB_ACTIVE, path) != 0) return;
#else
  if (path != nullptr) return;  // no way to name a records file here
#endif
  setutxent();
  while (const utmpx* r = getutxent()) fn(*r, ctx);
  // Closing drops the descriptor, so that a file replaced by rename is
  // opened afresh by the next pass.
  endutxent();
}

#if ZIBBET_WHOLE_FILE_RECORDS

namespace {

// How long a writer may hold its lock before a pass gives up, as glibc's
// own reader does.
constexpr std::chrono::seconds lock_timeout{10};

// A descriptor closed when the scope ends.
struct fd_guard {
  int fd;
  ~fd_guard() {
    if (fd >= 0) close(fd);
  }
};

// lock_shared - takes a shared read lock on the whole file, waiting at
// most lock_timeout for a writer to let go. Returns whether it holds it.
bool lock_shared(int fd) {
  auto deadline = std::chrono::steady_clock::now() + lock_timeout;
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    struct flock fl {};
    fl.l_type = F_RDLCK;
    fl.l_whence = SEEK_SET;
    if (fcntl(fd, F_SETLK, &fl) == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EACCES) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(pause);
    if (pause < std::chrono::milliseconds(50)) pause *= 2;
  }
}

// unlock - lets go of the lock taken by lock_shared.
void unlock(int fd) {
  struct flock fl {};
  fl.l_type = F_UNLCK;
  fl.l_whence = SEEK_SET;
  (void)fcntl(fd, F_SETLK, &fl);
}

// read_all - reads fd to its end into `buf`, growing it as needed, and
// returns the number of bytes read (those before an error included).
std::size_t read_all(int fd, std::vector<utmpx>& buf, std::size_t size_hint) {
  // One record more than the file holds, so that the end shows as a read
  // of 0 without growing the buffer.
  std::size_t want = size_hint / sizeof(utmpx) + 1;
  if (buf.size() < want) buf.resize(want);
  std::size_t got = 0;
  for (;;) {
    std::size_t cap = buf.size() * sizeof(utmpx);
    if (got == cap) {
      buf.resize(buf.size() * 2);
      cap = buf.size() * sizeof(utmpx);
    }
    char* base = reinterpret_cast<char*>(buf.data());
    ssize_t n = read(fd, base + got, cap - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return got;
    got += static_cast<std::size_t>(n);
  }
}

}  // namespace

void read_records_whole_file(const char* path, login_record_fn fn, void* ctx) {
  // Kept between passes, so that a pass with nothing new allocates nothing.
  static std::vector<utmpx> buf;

  // O_NONBLOCK: opening a FIFO without a writer would otherwise wait for
  // one for ever; a plain file reads the same either way.
  fd_guard file{open(path != nullptr ? path : _PATH_UTMPX, O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
  if (file.fd < 0) return;
  struct stat st {};
  // Only a plain file is an array of records; a device or a pipe could be
  // read for ever.
  if (fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) return;
  if (!lock_shared(file.fd)) return;
  std::size_t bytes = read_all(file.fd, buf, static_cast<std::size_t>(st.st_size));
  unlock(file.fd);

  std::size_t count = bytes / sizeof(utmpx);  // a partial record is dropped
  for (std::size_t i = 0; i < count; ++i) fn(buf[i], ctx);
}

void read_login_records(const char* path, login_record_fn fn, void* ctx) {
  read_records_whole_file(path, fn, ctx);
}

#else

void read_login_records(const char* path, login_record_fn fn, void* ctx) {
  read_records_portable(path, fn, ctx);
}

#endif

}  // namespace zibbet
