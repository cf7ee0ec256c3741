// recording_actions.h - the watch's actions recorded instead of done, so
// that a test of the decisions sees exactly what was asked of the world.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "output/actions.h"

namespace zibbet::test {

/// Records every action in order, as one text each: "status:TEXT",
/// "greet:USER LINE:TEXT" or "run:TEXT".
class recording_actions final : public actions {
 public:
  void print_status(std::string_view text) override {
    done.push_back("status:" + std::string(text));
  }
  void greet(std::string_view user, std::string_view line, std::string_view greeting) override {
    done.push_back("greet:" + std::string(user) + " " + std::string(line) + ":" +
                   std::string(greeting));
  }
  void run_command(std::string_view command) override {
    done.push_back("run:" + std::string(command));
  }

  /// statuses - the status lines alone, joined as standard output would
  /// show them.
  [[nodiscard]] std::string statuses() const {
    std::string out;
    for (const std::string& d : done)
      if (d.rfind("status:", 0) == 0) out += d.substr(7);
    return out;
  }

  /// take - what was done so far, forgotten.
  std::vector<std::string> take() { return std::exchange(done, {}); }

  std::vector<std::string> done;
};

}  // namespace zibbet::test
