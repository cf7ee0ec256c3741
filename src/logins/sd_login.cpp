// sd_login.cpp - libsystemd's sd-login through dlopen.
#include "logins/sd_login.h"

#include <sys/stat.h>

#include <type_traits>

#if ZIBBET_HAVE_LOGIND
#include <dlfcn.h>
#include <systemd/sd-login.h>
#endif

namespace zibbet {

bool systemd_runs() {
  struct stat st {};
  return lstat("/run/systemd/system/", &st) == 0 && S_ISDIR(st.st_mode);
}

#if ZIBBET_HAVE_LOGIND

namespace {

// symbol - `name` from the library as the type of its declaration in the
// library's own header, so that a mismatch fails to compile.
template <class Declared, class Fn>
bool symbol(void* lib, const char* name, Fn*& out) {
  static_assert(std::is_same_v<Declared, Fn>, "the header declares it otherwise");
  // dlsym hands out object pointers; POSIX makes them callable.
  out = reinterpret_cast<Fn*>(
      dlsym(lib, name));  // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
  return out != nullptr;
}

struct loaded {
  sd_login_api api{};
  std::string why;
  bool ok = false;
};

loaded load() {
  loaded l;
  void* lib = dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    const char* err = dlerror();
    l.why = err != nullptr ? err : "libsystemd.so.0 cannot be loaded";
    return l;
  }
  sd_login_api& a = l.api;
  bool ok =
      symbol<decltype(sd_get_sessions)>(lib, "sd_get_sessions", a.get_sessions) &&
      symbol<decltype(sd_session_get_class)>(lib, "sd_session_get_class", a.session_get_class) &&
      symbol<decltype(sd_session_get_state)>(lib, "sd_session_get_state", a.session_get_state) &&
      symbol<decltype(sd_session_get_uid)>(lib, "sd_session_get_uid", a.session_get_uid) &&
      symbol<decltype(sd_session_get_tty)>(lib, "sd_session_get_tty", a.session_get_tty) &&
      symbol<decltype(sd_session_get_display)>(lib, "sd_session_get_display",
                                               a.session_get_display) &&
      symbol<decltype(sd_session_get_remote_host)>(lib, "sd_session_get_remote_host",
                                                   a.session_get_remote_host) &&
      symbol<decltype(sd_pid_get_session)>(lib, "sd_pid_get_session", a.pid_get_session);
  if (!ok) {
    l.why = "libsystemd.so.0 lacks the sd-login calls zibbet needs";
    dlclose(lib);
    return l;
  }
  // Since 254; older libraries leave it null and the password database
  // names the user instead.
  a.session_get_username = reinterpret_cast<int (*)(const char*, char**)>(  // NOLINT
      dlsym(lib, "sd_session_get_username"));
  l.ok = true;  // kept loaded for the rest of the process
  return l;
}

}  // namespace

const sd_login_api* load_sd_login(std::string& why) {
  static const loaded once = load();
  if (!once.ok) {
    why = once.why;
    return nullptr;
  }
  return &once.api;
}

#else

const sd_login_api* load_sd_login(std::string& why) {
  why = "this zibbet was built without logind support";
  return nullptr;
}

#endif

}  // namespace zibbet
