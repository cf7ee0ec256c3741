// login_records_test.cpp - the login-record readers on real records files:
// the chunked reader and the getutxent loop agree login for login, hand
// out user processes only, and
// the read lock of a writer is honoured.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "logins/utmp_source.h"
#include "support/harness.h"
#include "support/records.h"

namespace zibbet::test {
namespace {

// The readers of a records file at a path.
enum class reader { chunked, portable, platform };

// text_of - a login as one text: "user|line|host".
std::string text_of(const login_view& l) {
  return std::string(l.user) + "|" + std::string(l.line) + "|" + std::string(l.host);
}

// Every login one pass of a reader hands out, as text, in order.
std::vector<std::string> collect(login_source& source) {
  std::vector<std::string> out;
  auto keep = [&out](const login_view& l) { out.push_back(text_of(l)); };
  source.read(keep);
  return out;
}
std::vector<std::string> collect(reader which, const std::string& path) {
  switch (which) {
    case reader::chunked: {
      records_file_source source(path);
      return collect(source);
    }
    case reader::portable: {
      utmpx_api_source source(path);
      return collect(source);
    }
    case reader::platform: break;
  }
  std::unique_ptr<login_source> source = make_records_source(path);
  return collect(*source);
}

// field - a record's text field up to its NUL or its width.
template <std::size_t N>
std::string field(const char (&f)[N]) {
  return {f, strnlen(f, N)};
}

// A record whose text fields fill their whole width and carry no NUL.
utmpx full_width_record() {
  login l;
  l.user = std::string(sizeof(utmpx{}.ut_user), 'u');
  l.line = std::string(sizeof(utmpx{}.ut_line), 'l');
  l.host = std::string(sizeof(utmpx{}.ut_host), 'h');
  return make_record(l);
}

std::vector<utmpx> mixed_records() {
  return {
      make_record({"alice", "pts/1", "", USER_PROCESS, 101}),
      make_record({"LOGIN", "tty1", "", LOGIN_PROCESS, 102}),
      make_record({"bob", "pts/0", "10.0.0.7", USER_PROCESS, 103}),
      make_record({"", "pts/4", "", DEAD_PROCESS, 104}),
      full_width_record(),
      make_record({"alice", "pts/1", "again", USER_PROCESS, 105}),
  };
}

// all_bytes - the logins the records hold: their user processes alone,
// each field to its NUL or its width.
std::vector<std::string> all_bytes(const std::vector<utmpx>& records) {
  std::vector<std::string> out;
  for (const utmpx& r : records)
    if (r.ut_type == USER_PROCESS)
      out.push_back(field(r.ut_user) + "|" + field(r.ut_line) + "|" + field(r.ut_host));
  return out;
}

TEST(LoginRecords, BothReadersYieldTheSameRecordsInFileOrder) {
  temp_dir dir;
  const std::vector<utmpx> records = mixed_records();
  const std::string whole = dir / "whole";
  write_raw_records(whole, records);

  // The same file cut in the middle of its fourth record: three whole
  // records before the cut, the partial one dropped.
  const std::string cut = dir / "cut";
  write_raw_records(cut, records);
  ASSERT_EQ(truncate(cut.c_str(), 3 * sizeof(utmpx) + sizeof(utmpx) / 2), 0);
  // Cut inside the first record: nothing whole at all.
  const std::string stub = dir / "stub";
  write_raw_records(stub, records);
  ASSERT_EQ(truncate(stub.c_str(), 10), 0);
  const std::string empty = dir / "empty";
  write_raw_records(empty, {});
  // Over a chunk of records, cut in the middle of a record that a chunk
  // boundary splits.
  std::vector<utmpx> long_records;
  for (int i = 0; i < 700; ++i)
    long_records.push_back(make_record({"u" + std::to_string(i), "pts/" + std::to_string(i), ""}));
  const std::string long_cut = dir / "long-cut";
  write_raw_records(long_cut, long_records);
  ASSERT_EQ(truncate(long_cut.c_str(), 600 * sizeof(utmpx) + 7), 0);
  long_records.resize(600);
  mkdir((dir / "folder").c_str(), 0755);

  struct {
    const char* name;
    std::string path;
    std::vector<std::string> expected;
  } cases[] = {
      {"whole file", whole, all_bytes(records)},
      {"cut mid-record", cut, all_bytes({records[0], records[1], records[2]})},
      {"cut in the first record", stub, {}},
      {"empty file", empty, {}},
      {"missing file", dir / "missing", {}},
      {"a folder", dir / "folder", {}},
      {"600 records and a cut one", long_cut, all_bytes(long_records)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> portable = collect(reader::portable, c.path);
    EXPECT_EQ(portable, c.expected);
    EXPECT_EQ(collect(reader::chunked, c.path), portable);
    EXPECT_EQ(collect(reader::platform, c.path), portable);
  }
}

TEST(LoginRecords, FullWidthFieldsAreReadToTheirWidthOnly) {
  temp_dir dir;
  const std::string path = dir / "utmp";
  // The bytes that follow each full field in the record are not NUL, so
  // reading past a field's end would show.
  utmpx r = full_width_record();
  std::memcpy(r.ut_id, "IDID", sizeof r.ut_id);
  r.ut_exit.e_termination = 0x5858;  // "XX" right after the host
  write_raw_records(path, {r});
  for (reader which : {reader::chunked, reader::portable, reader::platform}) {
    EXPECT_EQ(collect(which, path),
              std::vector<std::string>{std::string(sizeof r.ut_user, 'u') + "|" +
                                       std::string(sizeof r.ut_line, 'l') + "|" +
                                       std::string(sizeof r.ut_host, 'h')});
  }
  // The widths every source's logins are cut to are the record's own.
  EXPECT_EQ(host_login_widths().user, sizeof r.ut_user);
  EXPECT_EQ(host_login_widths().line, sizeof r.ut_line);
  EXPECT_EQ(host_login_widths().host, sizeof r.ut_host);
}

TEST(LoginRecords, ReadersSeeAFileReplacedByRenameBetweenPasses) {
  temp_dir dir;
  const std::string path = dir / "utmp";
  const utmpx first = make_record({"alice", "pts/1", ""});
  const utmpx second = make_record({"bob", "pts/2", ""});
  // One source object per reader, read pass after pass, as a run does.
  records_file_source chunked(path);
  utmpx_api_source portable(path);
  for (login_source* source :
       {static_cast<login_source*>(&chunked), static_cast<login_source*>(&portable)}) {
    write_raw_records(path, {first});
    EXPECT_EQ(collect(*source), all_bytes({first}));
    write_raw_records(path, {second, first});
    EXPECT_EQ(collect(*source), all_bytes({second, first}));
    write_raw_records(path, {});
    EXPECT_EQ(collect(*source), all_bytes({}));
  }
}

TEST(LoginRecords, ARecordsFileGrownBeyondItsFirstSizeIsReadWhole) {
  // The reader keeps its buffer between passes; a much larger file later
  // must still come out whole and in order.
  temp_dir dir;
  const std::string path = dir / "utmp";
  std::unique_ptr<login_source> source = make_records_source(path);
  write_raw_records(path, {make_record({"alice", "pts/1", ""})});
  ASSERT_EQ(collect(*source).size(), 1u);
  std::vector<utmpx> many;
  for (int i = 0; i < 500; ++i)
    many.push_back(make_record({"u" + std::to_string(i), "pts/" + std::to_string(i), ""}));
  write_raw_records(path, many);
  EXPECT_EQ(collect(*source), all_bytes(many));
}

// A child process that holds a write lock on a file (fcntl locks belong to
// a process, so the lock must come from another one) until told to let go.
class lock_holder {
 public:
  // Takes the lock; if `rewrite` is given, the child writes it over the
  // file's content in place before it lets go.
  lock_holder(const std::string& path, std::string rewrite) {
    int ready[2];
    EXPECT_EQ(pipe(ready), 0);
    EXPECT_EQ(pipe(release_), 0);
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(release_[1]);
      int fd = open(path.c_str(), O_RDWR);
      struct flock fl {};
      fl.l_type = F_WRLCK;
      fl.l_whence = SEEK_SET;
      if (fd < 0 || fcntl(fd, F_SETLK, &fl) != 0) _exit(1);
      (void)!write(ready[1], "l", 1);
      char c;
      while (read(release_[0], &c, 1) < 0 && errno == EINTR) {
      }
      if (!rewrite.empty() && pwrite(fd, rewrite.data(), rewrite.size(), 0) < 0) _exit(1);
      _exit(0);  // ending the process drops the lock
    }
    close(ready[1]);
    close(release_[0]);
    char c = 0;
    EXPECT_EQ(read(ready[0], &c, 1), 1) << "the child could not lock";
    close(ready[0]);
  }
  // release - lets the child rewrite the file and end.
  void release() {
    if (release_[1] < 0) return;
    close(release_[1]);
    release_[1] = -1;
    int status = 0;
    waitpid(pid_, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  ~lock_holder() { release(); }

 private:
  pid_t pid_ = -1;
  int release_[2] = {-1, -1};
};

TEST(LoginRecords, TheChunkedReaderWaitsForAWritersLock) {
  temp_dir dir;
  const std::string path = dir / "utmp";
  const utmpx before = make_record({"alice", "pts/1", "old"});
  const utmpx after = make_record({"bob", "pts/2", "new"});
  write_raw_records(path, {before});

  // The writer changes the record in place while it holds its lock; a
  // reader that honours the lock can only see the new record.
  lock_holder writer(path, std::string(reinterpret_cast<const char*>(&after), sizeof after));
  int watch = inotify_init1(IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, path.c_str(), IN_OPEN), 0);
  std::vector<std::string> seen;
  std::thread reader([&] { seen = collect(reader::chunked, path); });
  // Once the reader has opened the file, let the writer finish. The reader
  // must come back with the writer's finished record, never a mix; that a
  // held lock keeps it out at all is shown by the give-up test below.
  pollfd pfd{watch, POLLIN, 0};
  EXPECT_EQ(poll(&pfd, 1, 10000), 1);
  writer.release();
  reader.join();
  close(watch);
  EXPECT_EQ(seen, all_bytes({after}));
}

TEST(LoginRecords, TheChunkedReaderGivesUpOnALockThatIsNeverReleased) {
  temp_dir dir;
  const std::string path = dir / "utmp";
  write_raw_records(path, {make_record({"alice", "pts/1", ""})});
  lock_holder writer(path, "");
  // After its bounded wait the pass gets no records, as glibc's reader.
  EXPECT_EQ(collect(reader::chunked, path), std::vector<std::string>{});
  writer.release();
  EXPECT_EQ(collect(reader::chunked, path).size(), 1u);
}

}  // namespace
}  // namespace zibbet::test
