// driver.h - start-up, the refusal without buddies, and the polling loop.
#pragma once

#include <cstdint>
#include <string>

#include "buddy/settings.h"

namespace zibbet {

/// lookup_own_name - the login name of the real user id; without a
/// password entry, says so and gives "dumbass".
[[nodiscard]] std::string lookup_own_name();

/// greet_mode_for - the greet_mode of a pass: on the first pass
/// write_buddies when process_current is set and -1 otherwise; on every
/// later pass write_buddies.
[[nodiscard]] std::int16_t greet_mode_for(const settings& s, bool first_pass);

/// run - the whole program, from the command line to the last pass;
/// returns the exit status.
[[nodiscard]] int run(int argc, char** argv);

}  // namespace zibbet
