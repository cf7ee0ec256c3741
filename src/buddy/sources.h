// sources.h - the sources of buddies: the -u list, the buddy file (or
// standard input) and the password database.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "buddy/buddy.h"

namespace zibbet {

/// load_user_list - a buddy for every name of `list`, names separated by
/// any of " \t\n,:". A name given twice is held once, silently.
void load_user_list(std::string_view list, buddy_table& table);

/// load_buddy_lines - a buddy for every line read from `in` until its end,
/// warning about duplicates. Leaves `in` open.
void load_buddy_lines(std::FILE* in, buddy_table& table);

/// try_load_buddy_lines - load_buddy_lines without its exits: stops at the
/// first line that makes no buddy (malformed quoting, -h or -v among its
/// option words) and returns why; the buddies before it stay. Returns
/// buddy_line_error::none when the input ended.
[[nodiscard]] buddy_line_error try_load_buddy_lines(std::FILE* in, buddy_table& table);

/// load_buddyfile - load_buddy_lines from the file at `path` ("-" is
/// standard input). When it cannot be opened (or no path is known), says
/// so and watches the running user instead. Returns 0.
int load_buddyfile(const std::optional<std::string>& path, buddy_table& table);

/// load_all_users - a buddy for every user of the password database.
void load_all_users(buddy_table& table);

}  // namespace zibbet
