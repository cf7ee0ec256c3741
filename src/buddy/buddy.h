// buddy.h - a watched user, the buddy line it is made from, and the
// table of every buddy of the run.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "driver/settings.h"
#include "table/key_schemes.h"
#include "table/owning_table.h"
#include "watch/presence.h"

namespace zibbet {

/// A buddy's logins, keyed by terminal line (presence scheme).
using presence_table = owning_table<presence>;

/// A watched user.
struct buddy {
  std::string name;  ///< the login name; compared over at most 8 bytes
  /// The buddy's logins. Made on the first login: null stands for the
  /// empty table of 47 buckets, so a buddy who never logs in costs nothing.
  std::unique_ptr<presence_table> presences;
  /// The buddy's own settings, present exactly when its line had option text.
  std::unique_ptr<settings> overrides;
};

/// presences_of - the buddy's presence table, made when first needed.
[[nodiscard]] presence_table& presences_of(buddy& b);

/// Every buddy of the run, keyed by name (buddy scheme, 47 buckets).
struct buddy_table : owning_table<buddy> {
  buddy_table() : owning_table<buddy>(buddy_table_new()) {}
};

/// Why a buddy line made no buddy.
enum class buddy_line_error {
  none,     ///< a buddy was made
  quoting,  ///< malformed quoting; the splitter's message has been written
  help,     ///< -h among the option words
  version,  ///< -v among the option words
};

/// buddy_from_line - buddy_new without its exits: null, with the reason in
/// `error`, when the option text is malformed or asks for -h or -v.
[[nodiscard]] std::unique_ptr<buddy> buddy_from_line(std::string_view line,
                                                     buddy_line_error& error);

/// buddy_new - a buddy from one buddy line, a final newline included: a
/// name, or a name, a colon and option text for the buddy's own settings.
/// The line ends at its first NUL byte. Ends the program through bail()
/// when the option text's quoting is malformed, and with status 0 after the
/// banner when the option words hold -h or -v.
[[nodiscard]] std::unique_ptr<buddy> buddy_new(std::string_view line);

}  // namespace zibbet
