// records.h - login-record fixtures: records made in memory, and files of
// records written atomically (a temporary file, then rename).
#pragma once

#include <sys/types.h>
#include <utmpx.h>

#include <string>
#include <vector>

#include "common/login.h"

namespace zibbet::test {

/// One record of a fixture.
struct login {
  std::string user;
  std::string line;
  std::string host;
  short type = USER_PROCESS;
  pid_t pid = 4242;
};

/// make_record - a zeroed record with these fields (each cut to its width).
utmpx make_record(const login& l);

/// login_from - the login that a records file holding make_record(l)
/// hands out: each field cut to the host's width.
zibbet::login login_from(const login& l);

/// write_records - writes the records to `path` atomically.
void write_records(const std::string& path, const std::vector<login>& logins);

/// write_raw_records - writes whole records as they are, atomically.
void write_raw_records(const std::string& path, const std::vector<utmpx>& records);

}  // namespace zibbet::test
