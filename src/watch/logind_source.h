// logind_source.h - login records made from the sessions that
// systemd-logind keeps, read through libsystemd's sd-login.
//
// Every user session that is not closing gives one USER_PROCESS record:
// the user's login name, the session's line (its TTY, else the controlling
// terminal of its processes, else its X display) and its remote host.
#pragma once

#include <memory>

#include "watch/login_source.h"

namespace zibbet {

/// Whether logind sessions can be read here.
enum class logind_support {
  available,   ///< built with libsystemd, and systemd runs on this host
  not_built,   ///< this build has no libsystemd
  not_booted,  ///< systemd does not run on this host (sd_booted() <= 0)
};

/// logind_support_here - whether logind sessions can be read on this host.
[[nodiscard]] logind_support logind_support_here();

/// make_logind_source - a source of one record per qualifying session, or
/// null when logind_support_here() is not `available`.
[[nodiscard]] std::unique_ptr<login_source> make_logind_source();

}  // namespace zibbet
