// driver.h - start-up, the refusal without buddies, and the polling loop.
#pragma once

#include <cstdint>

#include "driver/settings.h"

namespace zibbet {

/// lookup_own_name - sets the global own_name from the password entry of
/// the real user id; without one, says so and uses "dumbass".
void lookup_own_name();

/// greet_mode_for - the greet_mode of a pass: on the first pass
/// write_buddies when process_current is set and -1 otherwise; on every
/// later pass write_buddies.
[[nodiscard]] std::int16_t greet_mode_for(const settings& s, bool first_pass);

/// run - the whole program: returns the exit status (it exits by itself
/// for -h, -v, no buddies and a malformed buddy option text).
int run(int argc, char** argv);

}  // namespace zibbet
