// freebsd_utx_test.cpp - FreeBSD's utx.active records on real files: the
// bytes of a record decoded field by field, files cut, grown past a chunk
// and locked by a writer, and mkutmp's FreeBSD records read back.
#include "logins/freebsd_utx.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utmpx.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "buddy/buddy.h"
#include "support/harness.h"
#include "support/platform.h"
#include "support/recording_actions.h"
#include "watch/scan.h"

namespace zibbet::test {
namespace {

namespace fb = freebsd_utx;

// glibc's widths: the same user field as FreeBSD's, wider line and host
// fields, so the record's own widths are what cut those two.
constexpr login_widths wide{32, 32, 256};

// The bytes of one record of these fields.
std::string record(std::uint8_t type, const std::string& user, const std::string& line,
                   const std::string& host = "", std::uint32_t pid = 4242) {
  auto r = encode_freebsd_utx(type, 1700000000123456u, line, pid, user, line, host);
  return {reinterpret_cast<const char*>(r.data()), r.size()};
}
std::string user_record(const std::string& user, const std::string& line,
                        const std::string& host = "") {
  return record(fb::user_process, user, line, host);
}

// One login as "user|line|host", so that a list of them compares and prints.
std::string shown(const login_view& l) {
  return std::string(l.user) + "|" + std::string(l.line) + "|" + std::string(l.host);
}

// What one pass over a file gave: its result and its logins in order.
struct pass {
  bool ok = false;
  std::vector<std::string> logins;
};

pass read_path(const std::string& path, std::vector<unsigned char>& chunk,
               const login_widths& widths = wide) {
  pass p;
  p.ok = read_freebsd_utx_file(path, chunk, widths,
                               [&p](const login_view& l) { p.logins.push_back(shown(l)); });
  return p;
}
pass read_path(const std::string& path, const login_widths& widths = wide) {
  std::vector<unsigned char> chunk;
  return read_path(path, chunk, widths);
}

const unsigned char* bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

TEST(FreebsdUtx, NumbersAreBigEndianAtTheirOffsets) {
  // Records put together byte by byte, independently of the encoder, with
  // numbers whose every byte differs and whose top bit is set.
  struct {
    const char* name;
    std::uint64_t time_usec;
    std::uint32_t pid;
  } cases[] = {
      {"a real time and pid", 1700000000123456u, 4242},
      {"every byte different", 0x0102030405060708u, 0x0a0b0c0du},
      {"top bits set", 0xfedcba9876543210u, 0xfffffffeu},
      {"zero", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string raw(fb::record_size, '\0');
    raw[fb::type_offset] = static_cast<char>(fb::user_process);
    for (std::size_t i = 0; i < 8; ++i)
      raw[1 + i] = static_cast<char>((c.time_usec >> (56 - 8 * i)) & 0xff);
    std::memcpy(&raw[9], "pts/7", 5);
    for (std::size_t i = 0; i < 4; ++i)
      raw[17 + i] = static_cast<char>((c.pid >> (24 - 8 * i)) & 0xff);
    std::memcpy(&raw[21], "alice", 5);
    std::memcpy(&raw[53], "pts/7", 5);
    std::memcpy(&raw[69], "alice-laptop.example", 20);

    freebsd_utx_fields f = decode_freebsd_utx_fields(bytes(raw));
    EXPECT_EQ(f.type, fb::user_process);
    EXPECT_EQ(f.time_usec, c.time_usec);
    EXPECT_EQ(f.id, "pts/7");
    EXPECT_EQ(f.pid, c.pid);
    EXPECT_EQ(f.user, "alice");
    EXPECT_EQ(f.line, "pts/7");
    EXPECT_EQ(f.host, "alice-laptop.example");

    // The encoder makes exactly these bytes, padding and all.
    auto encoded = encode_freebsd_utx(fb::user_process, c.time_usec, "pts/7", c.pid, "alice",
                                      "pts/7", "alice-laptop.example");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(encoded.data()), encoded.size()), raw);
  }
}

TEST(FreebsdUtx, OnlyAUserProcessIsALogin) {
  struct {
    std::uint8_t type;
    bool login;
  } cases[] = {
      {fb::empty, false},
      {fb::boot_time, false},
      {fb::old_time, false},
      {fb::new_time, false},
      {fb::user_process, true},
      {fb::init_process, false},
      {fb::login_process, false},
      {fb::dead_process, false},
      {fb::shutdown_time, false},
      {9, false},
      {0x84, false},
      {0xff, false},
  };
  // Each on its own, and all of them in one file, where only the user
  // processes come out, in file order.
  temp_dir dir;
  std::string file;
  std::vector<std::string> expected;
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.type));
    const std::string user = "u" + std::to_string(c.type);
    const std::string r = record(c.type, user, "pts/1", "far");
    std::optional<login_view> l = decode_freebsd_utx(bytes(r), wide);
    ASSERT_EQ(l.has_value(), c.login);
    if (l) {
      EXPECT_EQ(shown(*l), user + "|pts/1|far");
    }
    file += r;
    if (c.login) expected.push_back(user + "|pts/1|far");
  }
  file += user_record("last", "pts/2");
  expected.push_back("last|pts/2|");
  pass p = read_path(dir.write_file("utx.active", file));
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(p.logins, expected);
}

TEST(FreebsdUtx, TextFieldsAreCutByTheirFieldAndByTheWidths) {
  const std::string full_user(fb::user_width, 'u');
  const std::string full_line(fb::line_width, 'l');
  const std::string full_host(fb::host_width, 'h');
  // A record whose text fields fill their width and carry no NUL, and
  // whose last field ends the record: nothing may be read past any of them.
  const std::string full = user_record(full_user, full_line, full_host);
  // Texts longer than their fields: the encoder cuts them.
  const std::string over = user_record(full_user + "X", full_line + "X", full_host + "X");
  // A NUL inside a field ends its text; what follows it is not shown.
  std::string after_nul = user_record("ab", "tty1", "host");
  after_nul[fb::user_offset + 3] = 'Z';
  after_nul[fb::line_offset + 5] = 'Z';
  after_nul[fb::host_offset + fb::host_width - 1] = 'Z';

  struct {
    const char* name;
    const std::string& raw;
    login_widths widths;
    std::string want;
  } cases[] = {
      {"full fields, wider widths", full, wide, full_user + "|" + full_line + "|" + full_host},
      {"full fields, the record's widths", full,
       login_widths{fb::user_width, fb::line_width, fb::host_width},
       full_user + "|" + full_line + "|" + full_host},
      {"full fields, narrower widths", full, login_widths{8, 4, 10}, "uuuuuuuu|llll|hhhhhhhhhh"},
      {"overlong texts", over, wide, full_user + "|" + full_line + "|" + full_host},
      {"text after a NUL", after_nul, wide, "ab|tty1|host"},
      {"zero widths", full, login_widths{0, 0, 0}, "||"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<login_view> l = decode_freebsd_utx(bytes(c.raw), c.widths);
    ASSERT_TRUE(l.has_value());
    EXPECT_EQ(shown(*l), c.want);
  }
  // The same full-width record as the last one of a file, read through the
  // file reader.
  temp_dir dir;
  pass p = read_path(dir.write_file("utx.active", user_record("a", "b") + full));
  EXPECT_EQ(p.logins,
            (std::vector<std::string>{"a|b|", full_user + "|" + full_line + "|" + full_host}));
}

TEST(FreebsdUtx, FilesOfWholeAndPartRecords) {
  temp_dir dir;
  std::string three;
  for (int i = 0; i < 3; ++i)
    three += user_record("u" + std::to_string(i), "pts/" + std::to_string(i));
  const std::vector<std::string> three_logins = {"u0|pts/0|", "u1|pts/1|", "u2|pts/2|"};
  const std::string fourth = user_record("torn", "pts/9", "cut");

  // More than one chunk: 1000 records, every third a dead process, the
  // last one torn in the middle of its host field.
  std::string many;
  std::vector<std::string> many_logins;
  for (int i = 0; i < 1000; ++i) {
    const std::string n = std::to_string(i);
    const bool dead = i % 3 == 2;
    many += record(dead ? fb::dead_process : fb::user_process, "user" + n, "pts/" + n, "h" + n);
    if (!dead) many_logins.push_back("user" + n + "|pts/" + n + "|h" + n);
  }
  many += fourth.substr(0, fb::host_offset + 1);
  ASSERT_GT(many.size(), 3 * fb::chunk_records * fb::record_size);

  mkdir((dir / "folder").c_str(), 0755);
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);

  struct {
    const char* name;
    std::string path;
    pass want;
  } cases[] = {
      {"three whole records", dir.write_file("whole", three), {true, three_logins}},
      {"a torn fourth record",
       dir.write_file("torn", three + fourth.substr(0, 100)),
       {true, three_logins}},
      // Trailing bytes that begin like a user process and that a reader
      // padding the rest with zeros would take for one.
      {"a few bytes more than whole records",
       dir.write_file("odd", three + fourth.substr(0, 5)),
       {true, three_logins}},
      {"one byte short of four",
       dir.write_file("short", three + fourth.substr(0, 196)),
       {true, three_logins}},
      {"torn in the first record", dir.write_file("stub", fourth.substr(0, 10)), {true, {}}},
      {"1000 records, one torn", dir.write_file("many", many), {true, many_logins}},
      {"an empty file", dir.write_file("empty", ""), {true, {}}},
      {"a missing file", dir / "missing", {false, {}}},
      {"a folder", dir / "folder", {false, {}}},
      // Opened without blocking and then refused: a FIFO is no file of records.
      {"a FIFO without a writer", dir / "fifo", {false, {}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    pass p = read_path(c.path);
    EXPECT_EQ(p.ok, c.want.ok);
    EXPECT_EQ(p.logins, c.want.logins);
  }
}

TEST(FreebsdUtx, TheCallersChunkIsReusedPassAfterPass) {
  temp_dir dir;
  const std::string path = dir / "utx.active";
  std::vector<unsigned char> chunk;
  dir.write_file("utx.active", user_record("alice", "pts/1"));
  ASSERT_EQ(read_path(path, chunk).logins, std::vector<std::string>{"alice|pts/1|"});
  ASSERT_EQ(chunk.size(), fb::chunk_records * fb::record_size);
  const unsigned char* buffer = chunk.data();

  // A file of many chunks later is read whole through the same buffer,
  // which neither grows nor moves.
  std::string many;
  for (int i = 0; i < 600; ++i) many += user_record("u" + std::to_string(i), "pts/1");
  dir.write_file("utx.active", many);
  pass p = read_path(path, chunk);
  ASSERT_EQ(p.logins.size(), 600u);
  EXPECT_EQ(p.logins.front(), "u0|pts/1|");
  EXPECT_EQ(p.logins.back(), "u599|pts/1|");
  EXPECT_EQ(chunk.data(), buffer);
  EXPECT_EQ(chunk.size(), fb::chunk_records * fb::record_size);
}

TEST(FreebsdUtx, AnOpenDescriptorIsReadFromItsStartAndLeftUnlocked) {
  temp_dir dir;
  const std::string path =
      dir.write_file("utx.active", user_record("alice", "pts/1") + user_record("bob", "pts/2"));
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  std::vector<unsigned char> chunk;
  std::vector<std::string> seen;
  auto keep = [&seen](const login_view& l) { seen.push_back(shown(l)); };
  // Wherever the descriptor's offset stands, each pass reads the whole file.
  EXPECT_TRUE(read_freebsd_utx(fd, chunk, wide, keep));
  ASSERT_EQ(lseek(fd, 0, SEEK_END), static_cast<off_t>(2 * fb::record_size));
  EXPECT_TRUE(read_freebsd_utx(fd, chunk, wide, keep));
  EXPECT_EQ(seen,
            (std::vector<std::string>{"alice|pts/1|", "bob|pts/2|", "alice|pts/1|", "bob|pts/2|"}));
  // The pass let go of its shared lock: a writer's exclusive lock, on its
  // own open of the file, is granted at once while `fd` stays open.
  int writer = open(path.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  EXPECT_EQ(flock(writer, LOCK_EX | LOCK_NB), 0) << std::strerror(errno);
  close(writer);
  close(fd);
}

// A child process that holds an exclusive flock on a file, as FreeBSD's
// writers do while they update a record in place, then writes `rewrite`
// over the file's start and ends (which drops the lock). It lets go after
// `hold`, or, when `hold` is zero, once release() is called.
class flock_holder {
 public:
  flock_holder(const std::string& path, std::string rewrite, std::chrono::milliseconds hold) {
    int ready[2];
    if (pipe(ready) != 0 || pipe(release_) != 0) {
      ADD_FAILURE() << "pipe: " << std::strerror(errno);
      return;
    }
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(release_[1]);
      int fd = open(path.c_str(), O_RDWR);
      if (fd < 0 || flock(fd, LOCK_EX) != 0) _exit(1);
      (void)!write(ready[1], "l", 1);
      if (hold.count() > 0) {
        std::this_thread::sleep_for(hold);
      } else {
        char c;
        while (read(release_[0], &c, 1) < 0 && errno == EINTR) {
        }
      }
      if (!rewrite.empty() && pwrite(fd, rewrite.data(), rewrite.size(), 0) < 0) _exit(1);
      _exit(0);
    }
    close(ready[1]);
    close(release_[0]);
    release_[0] = -1;
    char c = 0;
    ssize_t n = 0;
    do {
      n = read(ready[0], &c, 1);
    } while (n < 0 && errno == EINTR);
    EXPECT_EQ(n, 1) << "the child could not lock";
    close(ready[0]);
  }
  // release - lets the child finish and collects it; whether it ended well.
  bool release() {
    if (pid_ <= 0) return false;
    if (release_[1] >= 0) {
      close(release_[1]);
      release_[1] = -1;
    }
    int status = 0;
    pid_t got = waitpid(pid_, &status, 0);
    pid_ = -1;
    return got > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  ~flock_holder() { (void)release(); }
  flock_holder(const flock_holder&) = delete;
  flock_holder& operator=(const flock_holder&) = delete;

 private:
  pid_t pid_ = -1;
  int release_[2] = {-1, -1};
};

TEST(FreebsdUtx, AReadWaitsForAWritersFlock) {
  temp_dir dir;
  const std::string before = user_record("alice", "pts/1", "old");
  const std::string after = user_record("bob", "pts/2", "new");
  const std::string path = dir.write_file("utx.active", before);
  // The writer holds its lock for a moment and changes the record in place
  // before letting go; a reader that honours the lock can only see the new
  // record, one that ignores it sees the old one.
  flock_holder writer(path, after, std::chrono::milliseconds(200));
  pass p = read_path(path);
  EXPECT_TRUE(writer.release());
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(p.logins, std::vector<std::string>{"bob|pts/2|new"});
}

TEST(FreebsdUtx, AReadGivesUpQuietlyOnAFlockThatIsNeverReleased) {
  temp_dir dir;
  const std::string path = dir.write_file("utx.active", user_record("alice", "pts/1"));
  flock_holder writer(path, "", std::chrono::milliseconds(0));
  // After its bounded wait (10 seconds) the pass gets nothing and says so.
  testing::internal::CaptureStderr();
  pass p = read_path(path);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(p.ok);
  EXPECT_TRUE(p.logins.empty());
  EXPECT_TRUE(writer.release());
  EXPECT_EQ(read_path(path).logins, std::vector<std::string>{"alice|pts/1|"});
}

TEST(FreebsdUtx, MkutmpWritesRecordsTheReaderReads) {
  if (auto why = skip_reason_under_emulation(emulation_need::program_start)) GTEST_SKIP() << *why;
  temp_dir dir;
  const std::string path = dir / "utx.active";
  const auto now_usec = [] {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::system_clock::now().time_since_epoch())
                                          .count());
  };
  const std::vector<std::string> records = {
      "alice:pts/1:alice-laptop.example",
      "LOGIN:tty1::login",
      "bob:pts/2:fe80::1:user",  // a host with colons, its type after it
      "carol:pts/3::dead",
      "dave:pts/4::4",
      "erin:pts/5::7",
      std::string(40, 'x') + ":averyverylonglinename",
  };
  run_options opts;
  opts.program = tools_dir() + "/mkutmp";
  opts.args = {"--format=freebsd", path};
  opts.args.insert(opts.args.end(), records.begin(), records.end());
  const std::uint64_t start = now_usec();
  run_result r = run(opts);
  const std::uint64_t end = now_usec();
  ASSERT_EQ(r.exit_code, 0) << r.err;

  const std::string file = read_file(path);
  ASSERT_EQ(file.size(), records.size() * fb::record_size);
  struct {
    std::uint8_t type;
    const char* id;
  } want[] = {
      {fb::user_process, "pts/1"},    {fb::login_process, "tty1"}, {fb::user_process, "pts/2"},
      {fb::dead_process, "pts/3"},    {fb::user_process, "pts/4"}, {fb::dead_process, "pts/5"},
      {fb::user_process, "linename"},
  };
  for (std::size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(records[i]);
    freebsd_utx_fields f = decode_freebsd_utx_fields(bytes(file) + i * fb::record_size);
    EXPECT_EQ(f.type, want[i].type);
    EXPECT_EQ(f.id, want[i].id);
    // Each record's pid is 1000 plus its argument's place, as in the
    // host's format.
    EXPECT_EQ(f.pid, 1002 + i);
    EXPECT_GE(f.time_usec, start);
    EXPECT_LE(f.time_usec, end);
  }
  pass p = read_path(path);
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(p.logins,
            (std::vector<std::string>{"alice|pts/1|alice-laptop.example", "bob|pts/2|fe80::1",
                                      "dave|pts/4|", std::string(32, 'x') + "|averyverylonglin|"}));

  // A type that does not fit FreeBSD's one byte is refused, and the file
  // left as it was.
  opts.args = {"--format=freebsd", path, "alice:pts/1::256"};
  r = run(opts);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("bad record"), std::string::npos) << r.err;
  EXPECT_EQ(read_file(path), file);

  // Without the option the records are still the host's own.
  opts.args = {path, "alice:pts/1", "bob:pts/2"};
  ASSERT_EQ(run(opts).exit_code, 0);
  EXPECT_EQ(read_file(path).size(), 2 * sizeof(utmpx));
}

}  // namespace
}  // namespace zibbet::test

namespace zibbet::test {
namespace {

// write_atomically - `content` at `path`, by a temporary file and rename,
// as a writer that replaces the file would.
void write_atomically(temp_dir& dir, const std::string& path, const std::string& content) {
  std::string tmp = dir.write_file("utx.tmp", content);
  ASSERT_EQ(rename(tmp.c_str(), path.c_str()), 0);
}

// The reader as the watch sees it on FreeBSD: a login source, read pass
// after pass, whose logins the scan reports as they come and go.
TEST(FreebsdUtx, AsALoginSourceItsLoginsComeAndGoPassByPass) {
  temp_dir dir;
  const std::string path = dir / "utx.active";
  freebsd_records_source source(path, wide);
  notice_book book{buddy_notice{"%b %o %l from %h", "", std::nullopt, false}};
  buddy_table buddies;
  buddies.insert(buddy{"alice", nullptr, book.run()});
  const watch_settings ws;
  auto pass_over = [&](const std::string& content) {
    write_atomically(dir, path, content);
    recording_actions out;
    scan_logins(buddies, source, ws, true, out);
    return out.statuses();
  };
  const std::string dead = record(fb::dead_process, "alice", "pts/2");
  EXPECT_EQ(
      pass_over(user_record("alice", "pts/1", "far.example") + dead + user_record("bob", "pts/3")),
      "alice logged on  pts/1    from far.example\n");
  EXPECT_EQ(pass_over(user_record("alice", "pts/1", "far.example") + dead), "");
  // The logout rewrites the slot as a dead process; a torn record at the
  // end counts for nothing.
  EXPECT_EQ(pass_over(record(fb::dead_process, "alice", "pts/1") + dead + "\x04torn"),
            "alice logged off pts/1    from far.example\n");
  ASSERT_EQ(unlink(path.c_str()), 0);
  recording_actions out;
  scan_logins(buddies, source, ws, true, out);
  EXPECT_EQ(out.statuses(), "");
}

}  // namespace
}  // namespace zibbet::test
