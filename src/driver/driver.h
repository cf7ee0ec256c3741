// driver.h - start-up, the refusal without buddies, and the polling loop.
#pragma once

#include <string>

#include "buddy/options.h"

namespace zibbet {

/// lookup_own_name - the login name of the real user id; without a
/// password entry, says so and gives "dumbass".
[[nodiscard]] std::string lookup_own_name();

/// pass_may_greet - whether a pass may greet anybody: every pass but a
/// first one without -p (or -o). Who is greeted then is each buddy's
/// notice's say.
[[nodiscard]] bool pass_may_greet(const options& run, bool first_pass);

/// run - the whole program, from the command line to the last pass;
/// returns the exit status.
[[nodiscard]] int run(int argc, char** argv);

}  // namespace zibbet
