// buddy.h - a watched user, the buddy line it is made from, what a
// notification of its logins needs, and the table of every buddy.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "buddy/options.h"
#include "buddy/presence.h"
#include "table/keyed_table.h"

namespace zibbet {

/// A buddy's logins, keyed by terminal line.
using presence_table = keyed_table<presence, presence_key>;

/// What a notification of a buddy's logins needs: the templates of its
/// status line, greeting and command, and whether it may be greeted. A
/// buddy without option words has the run's; a buddy with them has its
/// own, made from its words alone (the built-in defaults where they say
/// nothing), never from the run's.
struct buddy_notice {
  std::string status_message;
  std::string message;
  std::optional<std::string> exec_command;
  bool may_greet = false;
};

/// notice_of - the notice that an options record gives.
[[nodiscard]] buddy_notice notice_of(const options& o);

/// Keeps every notice that buddies point to: the run's, and each buddy's
/// own, for as long as the book lives (it must outlive the buddies).
class notice_book {
 public:
  explicit notice_book(buddy_notice run);

  /// run - the run's notice.
  [[nodiscard]] const buddy_notice* run() const { return run_.get(); }
  /// keep - holds a buddy's own notice and returns where it is kept.
  const buddy_notice* keep(buddy_notice own);

 private:
  std::unique_ptr<const buddy_notice> run_;
  std::vector<std::unique_ptr<const buddy_notice>> own_;
};

/// A watched user.
struct buddy {
  std::string name;  ///< the login name; compared over at most 8 bytes
  /// The buddy's logins. Made on the first login: null stands for the
  /// empty table, so a buddy who never logs in costs nothing.
  std::unique_ptr<presence_table> presences;
  /// What a notification needs, kept in the run's notice_book; never null
  /// once the buddy is loaded.
  const buddy_notice* notice = nullptr;
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
/// included: a name with the run's notice, or a name, a colon and option
/// words that make the buddy's own notice, kept in `book` (the words are
/// read as if `prog_name` ran with them). The line ends at its first NUL.
[[nodiscard]] parsed_buddy parse_buddy_line(std::string_view line, const std::string& prog_name,
                                            notice_book& book);

}  // namespace zibbet
