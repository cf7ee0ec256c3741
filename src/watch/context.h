// context.h - what the watch needs from the run besides the buddies and
// the login source: made once by the driver, built by tests as they need.
#pragma once

#include <chrono>
#include <cstddef>
#include <ctime>

#include "buddy/settings.h"

namespace zibbet {

/// The clock behind "%d".
using clock_fn = std::time_t (*)();

/// The run's settings and the few things tests replace, plus the count of
/// command children still to be collected.
struct watch_context {
  const settings& run;       ///< the command line's settings, own_name included
  clock_fn clock = nullptr;  ///< null: the system clock
  /// How long a greeting may take before its write utility is stopped.
  std::chrono::milliseconds greeting_limit{10000};
  /// Command children started and not yet collected.
  std::size_t pending_commands = 0;

  /// now - the time by this context's clock.
  [[nodiscard]] std::time_t now() const { return clock != nullptr ? clock() : std::time(nullptr); }
};

}  // namespace zibbet
