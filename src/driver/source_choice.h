// source_choice.h - which login source a run reads, from ZIBBET_SOURCE
// and ZIBBET_UTMP, decided once at start-up.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "logins/login_source.h"
#include "logins/logind_source.h"

namespace zibbet {

/// What a run reads its logins from.
struct source_plan {
  enum class kind { records_file, logind };
  kind from = kind::records_file;
  /// The records file ZIBBET_UTMP names; nullopt for the host's own.
  std::optional<std::string> named_file;
};

/// A plan, or the message that says why there is none.
struct source_decision {
  std::optional<source_plan> plan;
  std::string error;  ///< the text after "<prog>: " when there is no plan
};

/// decide_source - the source asked for: ZIBBET_SOURCE (`source_env`, null
/// when unset) is auto (also unset or empty), utmp or logind; ZIBBET_UTMP
/// (`utmp_env`) names a records file when set and not empty. Auto takes
/// the named file, else the host's records file when it exists, else
/// logind when it is available, else the host's records file.
[[nodiscard]] source_decision decide_source(const char* source_env, const char* utmp_env,
                                            bool host_file_exists, logind_support logind);

/// The source a run reads, and which kind it is.
struct chosen_source {
  std::unique_ptr<login_source> source;  ///< null when the run must end
  bool logind = false;                   ///< logind sessions, not a records file
};

/// open_login_source - the source the environment asks for. Says so, with
/// one warning, when that source cannot show anyone at start-up (the
/// records file does not exist or is no regular file, or there is neither
/// a records file nor systemd), and goes on: the file may appear later.
/// Automatic choice falls back to the records file, with that warning,
/// when libsystemd cannot be loaded. Gives no source, after one line on
/// stderr, when the environment asks for something this host cannot give.
[[nodiscard]] chosen_source open_login_source(std::string_view prog);

}  // namespace zibbet
