// sources.h - the sources of buddies: the -u list, the buddy file (or
// standard input) and the password database.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "buddy/buddy.h"

namespace zibbet {

/// Plain buddies (every one but a buddy line with option words) get the
/// run's notice from `book`.

/// load_user_list - a buddy for every name of `list`, names separated by
/// any of " \t\n,:". A name given twice is held once, silently.
void load_user_list(std::string_view list, buddy_table& table, const notice_book& book);

/// load_buddy_lines - a buddy for every line read from `in` until its end,
/// warning about duplicates. Stops at the first line that makes no buddy
/// and says why; the buddies before it stay. Leaves `in` open.
[[nodiscard]] load_outcome load_buddy_lines(std::FILE* in, buddy_table& table,
                                            const std::string& prog_name, notice_book& book);

/// load_buddyfile - load_buddy_lines from the run's buddy file ("-" is
/// standard input); nothing with no_buddyfile. When the file cannot be
/// opened (or no path is known), says so and watches the running user,
/// `own_name`.
[[nodiscard]] load_outcome load_buddyfile(const options& run, const std::string& own_name,
                                          buddy_table& table, notice_book& book);

/// load_all_users - a buddy for every user of the password database.
void load_all_users(buddy_table& table, const notice_book& book);

}  // namespace zibbet
