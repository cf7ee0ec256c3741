// utmp_source.h - logins from a records file: the host's own
// (the utmpx database) or another file of the same records.
#pragma once

#include <utmpx.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "logins/login_source.h"

namespace zibbet {

/// host_login_widths - the widths of the user, line and host fields of
/// the host's login records, which bound every login of every source.
[[nodiscard]] login_widths host_login_widths();

/// host_records_file - the path of the host's own records file.
[[nodiscard]] const char* host_records_file();

/// Reads a records file as the array of records it is, in fixed-size
/// chunks under one shared read lock, so that a file of any size costs the
/// same memory. A missing, unreadable or non-regular file gives no
/// records, and so does a writer that holds its lock for over 10 seconds;
/// a trailing partial record is dropped.
class records_file_source final : public login_source {
 public:
  explicit records_file_source(std::string path);
  void read(login_sink sink) override;

 private:
  std::string path_;
  std::vector<utmpx> chunk_;  // kept between passes: a pass allocates nothing
};

/// Reads the records through setutxent/getutxent/endutxent, naming the
/// file where the C library allows it (null: the host's database).
class utmpx_api_source final : public login_source {
 public:
  explicit utmpx_api_source(std::optional<std::string> path);
  void read(login_sink sink) override;

 private:
  std::optional<std::string> path_;
};

/// make_records_source - the reader this platform uses for `path` (null:
/// the host's own file): records_file_source on glibc, where the file is
/// known to be an array of records, freebsd_records_source on FreeBSD,
/// utmpx_api_source elsewhere.
[[nodiscard]] std::unique_ptr<login_source> make_records_source(std::optional<std::string> path);

}  // namespace zibbet
