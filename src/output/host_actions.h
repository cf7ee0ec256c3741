// host_actions.h - the real actions: status lines on standard output,
// greetings on buddies' terminals, commands in owned children.
#pragma once

#include <string_view>
#include <utility>

#include "output/actions.h"
#include "output/command_runner.h"
#include "output/greeting.h"

namespace zibbet {

/// What the watch does on a real run.
class host_actions final : public actions {
 public:
  explicit host_actions(greeting_settings greetings) : greetings_(std::move(greetings)) {}

  void print_status(std::string_view text) override;
  void greet(std::string_view user, std::string_view line, std::string_view greeting) override;
  void run_command(std::string_view command) override;

  /// reap - collects the command children that have ended.
  void reap() { commands_.reap(); }

 private:
  greeting_settings greetings_;
  command_runner commands_;
};

}  // namespace zibbet
