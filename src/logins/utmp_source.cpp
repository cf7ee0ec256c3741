// utmp_source.cpp - reading a records file: in chunks under one read lock
// on glibc, and through the getutxent loop elsewhere.
#include "logins/utmp_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

#include "common/unique_fd.h"
#include "logins/freebsd_utx.h"

namespace zibbet {

namespace {

// Records read at a time: 256 records of the host's size (96 KiB on glibc).
constexpr std::size_t chunk_records = 256;

// How long a writer may hold its lock before a pass gives up, as the C
// library's own reader does.
constexpr std::chrono::seconds lock_timeout{10};

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

// user_login - the login of a record that is a user's, as a view of the
// record: the one place where the host's record becomes a login.
std::optional<login_view> user_login(const utmpx& r) {
  if (r.ut_type != USER_PROCESS) return std::nullopt;
  return bounded_login(
      {{r.ut_user, sizeof r.ut_user}, {r.ut_line, sizeof r.ut_line}, {r.ut_host, sizeof r.ut_host}},
      host_login_widths());
}

}  // namespace

login_widths host_login_widths() {
  return {sizeof(utmpx::ut_user), sizeof(utmpx::ut_line), sizeof(utmpx::ut_host)};
}

const char* host_records_file() {
#if defined(__FreeBSD__)
  // FreeBSD's C library keeps the active logins here and names no macro.
  return "/var/run/utx.active";
#else
  return _PATH_UTMPX;
#endif
}

records_file_source::records_file_source(std::string path) : path_(std::move(path)) {}

void records_file_source::read(login_sink sink) {
  // O_NONBLOCK: opening a FIFO without a writer would otherwise wait for
  // one for ever; a plain file reads the same either way.
  unique_fd file(open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!file) return;
  struct stat st {};
  // Only a plain file is an array of records; a device or a pipe could be
  // read for ever.
  if (fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  if (!lock_shared(file.get())) return;

  chunk_.resize(chunk_records);
  char* base = reinterpret_cast<char*>(chunk_.data());
  const std::size_t capacity = chunk_.size() * sizeof(utmpx);
  std::size_t held = 0;  // bytes in the chunk, a partial record included
  for (;;) {
    ssize_t n = ::read(file.get(), base + held, capacity - held);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the end, or an error: what came whole counts
    held += static_cast<std::size_t>(n);
    std::size_t whole = held / sizeof(utmpx);
    for (std::size_t i = 0; i < whole; ++i) {
      if (std::optional<login_view> l = user_login(chunk_[i])) sink(*l);
    }
    // A record cut by this read moves to the front and is completed by
    // the next one.
    std::size_t rest = held - whole * sizeof(utmpx);
    if (whole != 0 && rest != 0) std::memmove(base, base + whole * sizeof(utmpx), rest);
    held = rest;
  }
  unlock(file.get());
}

utmpx_api_source::utmpx_api_source(std::optional<std::string> path) : path_(std::move(path)) {}

void utmpx_api_source::read(login_sink sink) {
  const char* path = path_ ? path_->c_str() : nullptr;
#if defined(__GLIBC__)
  // The name sticks for the process, so the default is named again.
  if (utmpxname(path != nullptr ? path : _PATH_UTMPX) != 0) return;
  setutxent();
#elif defined(__FreeBSD__)
  // setutxdb opens the file itself; setutxent would reopen the default.
  if (setutxdb(UTXDB_ACTIVE, path) != 0) return;
#else
  if (path != nullptr) return;  // no way to name a records file here
  setutxent();
#endif
  while (const utmpx* r = getutxent()) {
    if (std::optional<login_view> l = user_login(*r)) sink(*l);
  }
  // Closing drops the descriptor, so that a file replaced by rename is
  // opened afresh by the next pass.
  endutxent();
}

std::unique_ptr<login_source> make_records_source(std::optional<std::string> path) {
#if defined(__GLIBC__)
  return std::make_unique<records_file_source>(path ? std::move(*path) : host_records_file());
#elif defined(__FreeBSD__)
  return std::make_unique<freebsd_records_source>(path ? std::move(*path) : host_records_file(),
                                                  host_login_widths());
#else
  return std::make_unique<utmpx_api_source>(std::move(path));
#endif
}

}  // namespace zibbet
