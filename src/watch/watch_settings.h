// watch_settings.h - what the watch takes from the run besides the
// buddies, the login source and the actions: made once by the driver,
// built by tests as they need.
#pragma once

#include <ctime>
#include <optional>
#include <string>

namespace zibbet {

/// The clock behind "%d".
using clock_fn = std::time_t (*)();

/// The run's values that count in every expansion, whatever notice a
/// buddy has: a buddy's own words never change these.
struct watch_settings {
  std::optional<std::string> own_name;  ///< "%u": the running user's name
  bool messaging = false;               ///< "%m": the run's -w
  bool no_newline = false;              ///< no final newline on any text
  clock_fn clock = nullptr;             ///< null: the system clock

  /// now - the time by this clock.
  [[nodiscard]] std::time_t now() const { return clock != nullptr ? clock() : std::time(nullptr); }
};

}  // namespace zibbet
