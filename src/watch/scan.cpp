// scan.cpp - placeholder until the login scan lands: a pass reads nothing.
#include "watch/scan.h"

namespace zibbet {

void scan_logins(buddy_table&, std::int16_t) {}

}  // namespace zibbet
