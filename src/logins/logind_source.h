// logind_source.h - login records made from the sessions that
// systemd-logind keeps, for hosts without a records file.
#pragma once

#include <memory>

#include "logins/login_source.h"

namespace zibbet {

/// Whether logind sessions can be read here.
enum class logind_support {
  available,   ///< built with sd-login, and systemd runs
  not_built,   ///< this build has no sd-login
  not_booted,  ///< systemd does not run
};

/// logind_support_here - whether logind sessions can be read here.
[[nodiscard]] logind_support logind_support_here();

/// make_logind_source - a source of one USER_PROCESS record per user
/// session; null when logind sessions cannot be read here.
[[nodiscard]] std::unique_ptr<login_source> make_logind_source();

}  // namespace zibbet
