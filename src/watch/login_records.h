// login_records.h - the host's login records, read one pass at a time.
//
// This is the only place that touches the host's login-record interface.
// A pass reads either the host's default database or a named records file:
// ZIBBET_UTMP, when set and not empty, names the file (a saved copy of the
// records, a container's records, or a test fixture). A missing or
// unreadable file yields no records.
#pragma once

#include <utmpx.h>

#include <memory>
#include <type_traits>

namespace zibbet {

/// Called once for every record of a pass, in file order. The record is
/// valid only during the call: keep a copy to hold on to it. It must not
/// start another read of the records.
using login_record_fn = void (*)(const utmpx& record, void* ctx);

/// On glibc the records file is an array of struct utmpx and is read in
/// one go; elsewhere through setutxent/getutxent/endutxent.
#if defined(__GLIBC__)
#define ZIBBET_WHOLE_FILE_RECORDS 1
#else
#define ZIBBET_WHOLE_FILE_RECORDS 0
#endif

/// login_records_file - the file a pass reads: the one named with
/// set_login_records_file, else ZIBBET_UTMP when set and not empty, else
/// null for the host's default database.
[[nodiscard]] const char* login_records_file();

/// set_login_records_file - makes every later pass read `path` whatever
/// the environment says; null goes back to ZIBBET_UTMP and the default.
void set_login_records_file(const char* path);

/// read_login_records - calls fn(record, ctx) for every record of `path`
/// (null: the host's default database), in file order, with the reader
/// this platform uses.
void read_login_records(const char* path, login_record_fn fn, void* ctx);

/// read_records_portable - the same through setutxent/getutxent, ending
/// with endutxent so that a file replaced by rename is seen next time.
void read_records_portable(const char* path, login_record_fn fn, void* ctx);

#if ZIBBET_WHOLE_FILE_RECORDS
/// read_records_whole_file - the same with one read of the whole file
/// under a shared read lock; a trailing partial record is dropped. Gives
/// no records when the lock cannot be had within about 10 seconds.
void read_records_whole_file(const char* path, login_record_fn fn, void* ctx);
#endif

/// for_each_login_record - read_login_records with any callable taking
/// `const utmpx&`.
template <class Fn>
void for_each_login_record(const char* path, Fn&& fn) {
  using fn_type = std::remove_reference_t<Fn>;
  void* ctx = const_cast<void*>(static_cast<const void*>(std::addressof(fn)));
  read_login_records(
      path, [](const utmpx& r, void* c) { (*static_cast<fn_type*>(c))(r); }, ctx);
}

}  // namespace zibbet
