// sd_login.h - libsystemd's sd-login, loaded when a run reads logind
// sessions and never before, so that a run on a host with login records
// (or a -v) loads none of libsystemd's own dependencies.
#pragma once

#include <sys/types.h>

#include <string>

namespace zibbet {

/// The calls of sd-login that the logind source makes. Each returns what
/// the library's function of the same name returns; `session_get_username`
/// is null with a library older than 254, which lacks it.
struct sd_login_api {
  int (*get_sessions)(char*** sessions);
  int (*session_get_class)(const char* session, char** klass);
  int (*session_get_state)(const char* session, char** state);
  int (*session_get_uid)(const char* session, uid_t* uid);
  int (*session_get_username)(const char* session, char** name);
  int (*session_get_tty)(const char* session, char** tty);
  int (*session_get_display)(const char* session, char** display);
  int (*session_get_remote_host)(const char* session, char** host);
  int (*pid_get_session)(pid_t pid, char** session);
};

/// load_sd_login - sd-login from libsystemd.so.0, loaded on the first
/// call and kept for the process; null when it cannot be loaded (or this
/// build has no logind support), with the reason in `why`.
[[nodiscard]] const sd_login_api* load_sd_login(std::string& why);

/// systemd_runs - whether systemd is this host's init: the folder
/// /run/systemd/system/ exists (what sd_booted() looks at).
[[nodiscard]] bool systemd_runs();

}  // namespace zibbet
