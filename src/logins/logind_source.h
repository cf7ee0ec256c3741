// logind_source.h - logins made from the sessions that
// systemd-logind keeps, for hosts without a records file.
#pragma once

#include <memory>
#include <string>

#include "logins/login_source.h"

namespace zibbet {

/// Whether logind sessions can be read here.
enum class logind_support {
  available,   ///< built with logind support, and systemd runs
  not_built,   ///< this build has no logind support
  not_booted,  ///< systemd does not run
};

/// logind_support_here - whether logind sessions can be read here.
[[nodiscard]] logind_support logind_support_here();

/// make_logind_source - a source of the logins of logind's user sessions,
/// which loads libsystemd's sd-login; null, with the reason in `why`, when
/// the library cannot be loaded (or this build has none).
[[nodiscard]] std::unique_ptr<login_source> make_logind_source(std::string& why);

}  // namespace zibbet
