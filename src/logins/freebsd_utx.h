// freebsd_utx.h - FreeBSD's active-logins file (/var/run/utx.active) read
// and written as the bytes it holds, never through a host struct, so the
// same code builds, and is tested, on every host.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/login.h"
#include "logins/login_source.h"

namespace zibbet {

/// The layout of one packed record of the file: every field at a fixed
/// offset, numbers big-endian, text NUL-padded (and without a NUL when it
/// fills its field).
namespace freebsd_utx {

inline constexpr std::size_t type_offset = 0;  ///< 1 byte
inline constexpr std::size_t time_offset = 1;  ///< 8 bytes: microseconds since the epoch
inline constexpr std::size_t time_width = 8;
inline constexpr std::size_t id_offset = time_offset + time_width;
inline constexpr std::size_t id_width = 8;
inline constexpr std::size_t pid_offset = id_offset + id_width;
inline constexpr std::size_t pid_width = 4;
inline constexpr std::size_t user_offset = pid_offset + pid_width;
inline constexpr std::size_t user_width = 32;
inline constexpr std::size_t line_offset = user_offset + user_width;
inline constexpr std::size_t line_width = 16;
inline constexpr std::size_t host_offset = line_offset + line_width;
inline constexpr std::size_t host_width = 128;
/// The size of one record: 197 bytes.
inline constexpr std::size_t record_size = host_offset + host_width;
static_assert(record_size == 197);

/// Records a reader takes in at a time.
inline constexpr std::size_t chunk_records = 256;

/// The record types (FreeBSD's numbers, unlike glibc's).
inline constexpr std::uint8_t empty = 0;
inline constexpr std::uint8_t boot_time = 1;
inline constexpr std::uint8_t old_time = 2;
inline constexpr std::uint8_t new_time = 3;
inline constexpr std::uint8_t user_process = 4;
inline constexpr std::uint8_t init_process = 5;
inline constexpr std::uint8_t login_process = 6;
inline constexpr std::uint8_t dead_process = 7;
inline constexpr std::uint8_t shutdown_time = 8;

/// The file the system keeps its active logins in.
inline constexpr const char* active_path = "/var/run/utx.active";

}  // namespace freebsd_utx

/// One record of the file, every field as it stands: the numbers decoded,
/// the texts viewed (into the record) up to their NUL or their width.
struct freebsd_utx_fields {
  std::uint8_t type;
  std::uint64_t time_usec;
  std::string_view id;
  std::uint32_t pid;
  std::string_view user;
  std::string_view line;
  std::string_view host;
};

/// decode_freebsd_utx_fields - the fields of the record_size bytes at
/// `record`; the views live as long as those bytes.
[[nodiscard]] freebsd_utx_fields decode_freebsd_utx_fields(const unsigned char* record);

/// decode_freebsd_utx - the login of the record_size bytes at `record`
/// when it is a user process, nullopt for any other type. Each text is cut
/// to the smaller of its field and `widths`.
[[nodiscard]] std::optional<login_view> decode_freebsd_utx(const unsigned char* record,
                                                           const login_widths& widths);

/// encode_freebsd_utx - one record of these fields; each text is cut to
/// its field's width, and NUL-padded when shorter.
[[nodiscard]] std::array<unsigned char, freebsd_utx::record_size> encode_freebsd_utx(
    std::uint8_t type, std::uint64_t time_usec, std::string_view id, std::uint32_t pid,
    std::string_view user, std::string_view line, std::string_view host);

/// read_freebsd_utx - calls `each` for every user-process login of the
/// open file `fd`, read from its start in chunks of chunk_records records
/// while a shared flock(2) is held (waiting up to 10 seconds for a writer's
/// lock). `chunk` is the caller's buffer, kept between passes so that a
/// pass allocates nothing for it. A trailing partial record is ignored.
/// The lock is let go at the end, so `fd` must not be one whose open file
/// the caller holds a flock on.
/// Returns false, having given nothing or what came before a failing read,
/// when `fd` is no regular file, the lock could not be had, or a read
/// failed; true when the whole file was read.
[[nodiscard]] bool read_freebsd_utx(int fd, std::vector<unsigned char>& chunk,
                                    const login_widths& widths,
                                    const std::function<void(const login_view&)>& each);

/// read_freebsd_utx_file - read_freebsd_utx of the file at `path`, opened
/// for this pass only (so a file replaced by rename is seen afresh).
/// Returns false also when it cannot be opened.
[[nodiscard]] bool read_freebsd_utx_file(const std::string& path, std::vector<unsigned char>& chunk,
                                         const login_widths& widths,
                                         const std::function<void(const login_view&)>& each);

/// A records file in FreeBSD's format read as a login source: the host's
/// own on FreeBSD (/var/run/utx.active), or the file ZIBBET_UTMP names.
/// It reads the file itself, since the C library's reader could not be
/// pointed at another file without reopening the default one, and refuses
/// any file whose size is not a whole number of records.
class freebsd_records_source final : public login_source {
 public:
  freebsd_records_source(std::string path, const login_widths& widths);
  void read(login_sink sink) override;

 private:
  std::string path_;
  login_widths widths_;
  std::vector<unsigned char> chunk_;  // kept between passes
};

}  // namespace zibbet
