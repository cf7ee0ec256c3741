// freebsd_utx_fuzz.cpp - arbitrary bytes as FreeBSD's utx.active records:
// every whole record decoded, and the same bytes read as a file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logins/freebsd_utx.h"

namespace {

namespace fb = zibbet::freebsd_utx;

// check_text - aborts unless `text` is a field's text: no NUL, no longer
// than its field, and lying inside the record.
void check_text(std::string_view text, std::size_t width, const std::uint8_t* record) {
  if (text.size() > width || text.find('\0') != std::string_view::npos) std::abort();
  auto* start = reinterpret_cast<const std::uint8_t*>(text.data());
  if (start < record || start + text.size() > record + fb::record_size) std::abort();
}

// check_login_text - aborts unless a login's text is its field's text cut
// to `width`.
void check_login_text(std::string_view got, std::string_view field, std::size_t width) {
  if (got != field.substr(0, width)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const zibbet::login_widths widths[] = {{32, 32, 256}, {8, 4, 10}, {0, 0, 0}};
  const std::size_t whole = size / fb::record_size;
  std::vector<std::string> expected;  // the logins of the wide widths, in order
  for (std::size_t i = 0; i < whole; ++i) {
    const std::uint8_t* record = data + i * fb::record_size;
    zibbet::freebsd_utx_fields f = zibbet::decode_freebsd_utx_fields(record);
    if (f.type != record[fb::type_offset]) std::abort();
    check_text(f.id, fb::id_width, record);
    check_text(f.user, fb::user_width, record);
    check_text(f.line, fb::line_width, record);
    check_text(f.host, fb::host_width, record);

    // Encoding the decoded fields and decoding again changes nothing.
    auto again =
        zibbet::encode_freebsd_utx(f.type, f.time_usec, f.id, f.pid, f.user, f.line, f.host);
    zibbet::freebsd_utx_fields g = zibbet::decode_freebsd_utx_fields(again.data());
    if (g.type != f.type || g.time_usec != f.time_usec || g.pid != f.pid || g.id != f.id ||
        g.user != f.user || g.line != f.line || g.host != f.host)
      std::abort();

    for (const zibbet::login_widths& w : widths) {
      std::optional<zibbet::login_view> l = zibbet::decode_freebsd_utx(record, w);
      if (l.has_value() != (f.type == fb::user_process)) std::abort();
      if (!l) continue;
      check_login_text(l->user, f.user, w.user);
      check_login_text(l->line, f.line, w.line);
      check_login_text(l->host, f.host, w.host);
    }
    if (f.type == fb::user_process)
      expected.push_back(std::string(f.user) + '\n' + std::string(f.line) + '\n' +
                         std::string(f.host));
  }

#if defined(__linux__)
  // The file reader gives the same logins from the same bytes: whole
  // records only, a trailing part ignored.
  int fd = memfd_create("utx.active", MFD_CLOEXEC);
  if (fd < 0) return 0;
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) {
      close(fd);
      return 0;
    }
    done += static_cast<std::size_t>(n);
  }
  std::vector<unsigned char> chunk;
  std::vector<std::string> seen;
  bool ok = zibbet::read_freebsd_utx(fd, chunk, widths[0], [&seen](const zibbet::login_view& l) {
    seen.push_back(std::string(l.user) + '\n' + std::string(l.line) + '\n' + std::string(l.host));
  });
  close(fd);
  if (!ok || seen != expected) std::abort();
#endif
  return 0;
}
