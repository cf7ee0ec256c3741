// globals.h - known global settings for one test.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "driver/settings.h"

namespace zibbet::test {

/// Replaces the global settings, while it lives, by a record that names
/// the program "zibbet", holds `own_name` and the default templates, and is
/// otherwise clear; then puts the test program's own back.
class scoped_global_settings {
 public:
  explicit scoped_global_settings(std::optional<std::string> own_name = std::nullopt)
      : saved_(std::move(global_settings)) {
    global_settings = settings{};
    global_settings.prog_name = "zibbet";
    global_settings.own_name = std::move(own_name);
    global_settings.message = default_message;
    global_settings.status_message = default_status_message;
  }
  ~scoped_global_settings() { global_settings = std::move(saved_); }
  scoped_global_settings(const scoped_global_settings&) = delete;
  scoped_global_settings& operator=(const scoped_global_settings&) = delete;

 private:
  settings saved_;
};

}  // namespace zibbet::test
