// login_source.h - where a pass reads its logins from: the host's records
// file, or the sessions that systemd-logind keeps.
#pragma once

#include "common/login.h"

namespace zibbet {

/// A borrowed callable that takes one login; cheap to copy. The callable
/// it refers to must outlive it.
class login_sink {
 public:
  template <class Fn>
  // NOLINTNEXTLINE(google-explicit-constructor): made from any callable
  login_sink(Fn& fn)
      : target_(&fn), call_([](void* t, const login_view& l) { (*static_cast<Fn*>(t))(l); }) {}
  void operator()(const login_view& l) const { call_(target_, l); }

 private:
  void* target_;
  void (*call_)(void*, const login_view&);
};

/// A source of logins, read once per pass.
class login_source {
 public:
  login_source() = default;
  login_source(const login_source&) = delete;
  login_source& operator=(const login_source&) = delete;
  virtual ~login_source() = default;

  /// read - calls `sink` once for every login of one pass, in the source's
  /// order: only the logins of users (a records file's other records are
  /// left out). A login's views are valid only during the call.
  virtual void read(login_sink sink) = 0;
};

}  // namespace zibbet
