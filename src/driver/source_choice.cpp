// source_choice.cpp - which login source a run reads.
#include "driver/source_choice.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/diag.h"
#include "common/untrusted.h"
#include "logins/sd_login.h"
#include "logins/utmp_source.h"

namespace zibbet {

namespace {

bool set(const char* value) {
  return value != nullptr && value[0] != '\0';
}

// logind_refusal - why logind sessions cannot be read, for the message.
const char* logind_refusal(logind_support logind) {
  return logind == logind_support::not_built
             ? "ZIBBET_SOURCE=logind, but this zibbet was built without logind support"
             : "ZIBBET_SOURCE=logind, but systemd is not running on this host";
}

// warn_if_unusable - one warning when the named records file does not
// exist or is not a regular file: a typo would otherwise look exactly like
// nobody being logged in.
void warn_if_unusable(std::string_view prog, const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    int err = errno;
    warn(prog, "warning: ZIBBET_UTMP names %s: %s", terminal_safe(path).c_str(),
         std::strerror(err));
  } else if (!S_ISREG(st.st_mode)) {
    warn(prog, "warning: ZIBBET_UTMP names %s: not a regular file", terminal_safe(path).c_str());
  }
}

// warn_no_host_file - one warning when the host's own records file, which
// the run is to read, does not exist: what is missing, and what to do.
void warn_no_host_file(std::string_view prog, logind_support logind, const std::string& lib_error) {
  const char* file = host_records_file();
  if (!lib_error.empty()) {
    warn(prog,
         "warning: there is no %s and libsystemd cannot be loaded (%s), so nobody can be seen; "
         "install libsystemd0, or name a records file with ZIBBET_UTMP",
         file, terminal_safe(lib_error).c_str());
    return;
  }
  switch (logind) {
    case logind_support::available:
      warn(prog,
           "warning: there is no %s; this host keeps its logins in systemd-logind: "
           "set ZIBBET_SOURCE=auto (or logind) to read them",
           file);
      break;
    case logind_support::not_built:
      if (systemd_runs()) {
        warn(prog,
             "warning: there is no %s, and this zibbet was built without logind support: "
             "build it with libsystemd-dev to see this host's logins",
             file);
        break;
      }
      [[fallthrough]];
    case logind_support::not_booted:
      warn(prog,
           "warning: there is no %s and systemd does not run here, so nobody can be seen; "
           "name a records file with ZIBBET_UTMP",
           file);
      break;
  }
}

}  // namespace

source_decision decide_source(const char* source_env, const char* utmp_env, bool host_file_exists,
                              logind_support logind) {
  using kind = source_plan::kind;
  std::string_view wanted = source_env != nullptr ? source_env : "";
  std::optional<std::string> named;
  if (set(utmp_env)) named = utmp_env;

  if (wanted.empty() || wanted == "auto") {
    if (named || host_file_exists || logind != logind_support::available)
      return {source_plan{kind::records_file, std::move(named)}, {}};
    return {source_plan{kind::logind, std::nullopt}, {}};
  }
  if (wanted == "utmp") return {source_plan{kind::records_file, std::move(named)}, {}};
  if (wanted == "logind") {
    if (logind != logind_support::available) return {std::nullopt, logind_refusal(logind)};
    return {source_plan{kind::logind, std::nullopt}, {}};
  }
  return {std::nullopt, "unknown ZIBBET_SOURCE \"" + terminal_safe(wanted) +
                            "\" (accepted values: auto, utmp, logind)"};
}

chosen_source open_login_source(std::string_view prog) {
  struct stat st {};
  const bool host_file_exists = stat(host_records_file(), &st) == 0;
  const char* source_env = std::getenv("ZIBBET_SOURCE");
  const logind_support logind = logind_support_here();
  source_decision d =
      decide_source(source_env, std::getenv("ZIBBET_UTMP"), host_file_exists, logind);
  if (!d.plan) {
    warn(prog, "%s", d.error.c_str());
    return {};
  }
  std::string lib_error;
  if (d.plan->from == source_plan::kind::logind) {
    std::unique_ptr<login_source> sessions = make_logind_source(lib_error);
    if (sessions) return {std::move(sessions), true};
    if (source_env != nullptr && std::string_view(source_env) == "logind") {
      warn(prog, "ZIBBET_SOURCE=logind, but libsystemd cannot be loaded: %s",
           terminal_safe(lib_error).c_str());
      return {};
    }
    // Chosen automatically: the host's records file is all there is left.
  }
  if (d.plan->named_file) {
    warn_if_unusable(prog, *d.plan->named_file);
  } else if (!host_file_exists) {
    warn_no_host_file(prog, logind, lib_error);
  }
  return {make_records_source(std::move(d.plan->named_file)), false};
}

}  // namespace zibbet
