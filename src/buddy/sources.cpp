// sources.cpp - placeholder until the buddy sources land: no buddies.
#include "buddy/sources.h"

namespace zibbet {

void load_user_list(std::string_view, buddy_table&) {}
void load_buddy_lines(std::FILE*, buddy_table&) {}
int load_buddyfile(const std::optional<std::string>&, buddy_table&) { return 0; }
void load_all_users(buddy_table&) {}

}  // namespace zibbet
