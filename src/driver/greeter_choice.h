// greeter_choice.h - how a run delivers its greetings, from
// ZIBBET_GREETER, decided once at start-up.
#pragma once

#include <optional>
#include <string>

#include "output/greeting.h"

namespace zibbet {

/// What decides the automatic choice.
struct greeter_host {
  bool logind_source = false;        ///< the run reads logind sessions
  bool write_on_path = false;        ///< a write utility is found on PATH
  bool refuses_without_tty = false;  ///< the host's write wants a terminal among its streams
  bool stream_is_tty = false;        ///< standard input, output or error is a terminal
};

/// A delivery, or the message that says why there is none.
struct greeter_decision {
  std::optional<greeting_delivery> delivery;
  std::string error;  ///< the text after "<prog>: " when there is none
};

/// decide_greeter - ZIBBET_GREETER (`env`, null when unset) is auto (also
/// unset or empty), write or terminal. Auto takes zibbet's own delivery
/// when the run reads logind sessions (whose terminals a write utility
/// cannot find), when no write utility is on PATH, or when the host's
/// utility refuses to run without a terminal and the run has none; the
/// write utility otherwise.
[[nodiscard]] greeter_decision decide_greeter(const char* env, const greeter_host& host);

/// write_utility_on_path - whether PATH names a folder with an
/// executable "write".
[[nodiscard]] bool write_utility_on_path();

/// this_greeter_host - the facts of this host and run.
[[nodiscard]] greeter_host this_greeter_host(bool logind_source);

}  // namespace zibbet
