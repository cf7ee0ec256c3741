// context.h - the settings and watch context a test builds for itself.
#pragma once

#include <optional>
#include <string>

#include "buddy/settings.h"

namespace zibbet::test {

/// test_settings - a run's settings as a bare command line gives them: the
/// program named "zibbet", the default templates, `own_name`, and nothing
/// else set.
inline settings test_settings(std::optional<std::string> own_name = std::nullopt) {
  settings s;
  s.prog_name = "zibbet";
  s.own_name = std::move(own_name);
  s.message = default_message;
  s.status_message = default_status_message;
  s.interval = 1;
  return s;
}

/// banner - the first line of the version banner, naming `prog`.
inline std::string banner(const std::string& prog = "zibbet") {
  return prog + " v" + ZIBBET_VERSION + "\t-\tziibbbeeet?\n";
}

/// version_banner - both lines of the version banner.
inline std::string version_banner(const std::string& prog = "zibbet") {
  return banner(prog) + "Copyright (C) 2026 the zibbet developers\n";
}

}  // namespace zibbet::test
