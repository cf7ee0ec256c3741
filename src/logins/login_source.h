// login_source.h - where a pass reads its login records from: the host's
// records file, or the sessions that systemd-logind keeps.
#pragma once

#include <utmpx.h>

namespace zibbet {

/// A borrowed callable that takes one login record; cheap to copy. The
/// callable it refers to must outlive it.
class record_sink {
 public:
  template <class Fn>
  // NOLINTNEXTLINE(google-explicit-constructor): made from any callable
  record_sink(Fn& fn)
      : target_(&fn), call_([](void* t, const utmpx& r) { (*static_cast<Fn*>(t))(r); }) {}
  void operator()(const utmpx& record) const { call_(target_, record); }

 private:
  void* target_;
  void (*call_)(void*, const utmpx&);
};

/// A source of login records, read once per pass.
class login_source {
 public:
  login_source() = default;
  login_source(const login_source&) = delete;
  login_source& operator=(const login_source&) = delete;
  virtual ~login_source() = default;

  /// read - calls `sink` once for every login record of one pass, in the
  /// source's order. A record is valid only during the call.
  virtual void read(record_sink sink) = 0;
};

}  // namespace zibbet
