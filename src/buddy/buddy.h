// buddy.h - a watched user, the buddy line it is made from, and the
// table of every buddy of the run.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "watch/presence.h"
#include "buddy/settings.h"
#include "table/keyed_table.h"

namespace zibbet {

/// A buddy's logins, keyed by terminal line.
using presence_table = keyed_table<presence, presence_key>;

/// A watched user.
struct buddy {
  std::string name;  ///< the login name; compared over at most 8 bytes
  /// The buddy's logins. Made on the first login: null stands for the
  /// empty table, so a buddy who never logs in costs nothing.
  std::unique_ptr<presence_table> presences;
  /// The buddy's own settings, present exactly when its line had option text.
  std::unique_ptr<settings> overrides;
};

/// buddy_key - a buddy's key in the buddy table: its name.
[[nodiscard]] inline std::string_view buddy_key(const buddy& b) {
  return b.name;
}

/// Every buddy of the run, keyed by name.
using buddy_table = keyed_table<buddy, buddy_key>;

/// presences_of - the buddy's presence table, made when first needed.
[[nodiscard]] presence_table& presences_of(buddy& b);

/// What reading buddies came to.
enum class load_outcome {
  ok,       ///< every buddy was read
  quoting,  ///< malformed quoting; the splitter's message has been written
  help,     ///< -h among a buddy's option words
  version,  ///< -v among a buddy's option words
};

/// A buddy line made into a buddy, or why it made none.
struct parsed_buddy {
  std::optional<buddy> made;  ///< present exactly when `outcome` is ok
  load_outcome outcome = load_outcome::ok;
};

/// parse_buddy_line - a buddy from one buddy line, a final newline
/// included: a name, or a name, a colon and option text for the buddy's
/// own settings (option words are read as if `prog_name` ran with them).
/// The line ends at its first NUL byte.
[[nodiscard]] parsed_buddy parse_buddy_line(std::string_view line, const std::string& prog_name);

}  // namespace zibbet
