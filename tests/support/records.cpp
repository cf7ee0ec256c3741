// records.cpp - writing login-record fixtures.
#include "support/records.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "logins/utmp_source.h"

namespace zibbet::test {

namespace {
template <std::size_t N>
void fill(char (&field)[N], const std::string& value) {
  std::memset(field, 0, N);
  std::memcpy(field, value.data(), value.size() < N ? value.size() : N);
}
}  // namespace

utmpx make_record(const login& l) {
  utmpx r;
  std::memset(&r, 0, sizeof r);
  r.ut_type = l.type;
  r.ut_pid = l.pid;
  fill(r.ut_user, l.user);
  fill(r.ut_line, l.line);
  fill(r.ut_host, l.host);
  std::string id = l.line.size() > 4 ? l.line.substr(l.line.size() - 4) : l.line;
  fill(r.ut_id, id);
  r.ut_tv.tv_sec = 1700000000;
  return r;
}

zibbet::login login_from(const login& l) {
  return zibbet::login(bounded_login({l.user, l.line, l.host}, host_login_widths()));
}

void write_raw_records(const std::string& path, const std::vector<utmpx>& records) {
  std::string tmp = path + ".tmp";
  std::FILE* f = std::fopen(tmp.c_str(), "wb");
  if (f == nullptr) throw std::runtime_error("cannot write " + tmp);
  if (!records.empty()) std::fwrite(records.data(), sizeof(utmpx), records.size(), f);
  std::fclose(f);
  if (std::rename(tmp.c_str(), path.c_str()) != 0) throw std::runtime_error("cannot rename " + tmp);
}

void write_records(const std::string& path, const std::vector<login>& logins) {
  std::vector<utmpx> records;
  records.reserve(logins.size());
  for (const login& l : logins) records.push_back(make_record(l));
  write_raw_records(path, records);
}

}  // namespace zibbet::test
