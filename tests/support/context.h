// context.h - the options and watch settings a test builds for itself.
#pragma once

#include <optional>
#include <string>

#include "buddy/options.h"
#include "watch/watch_settings.h"

namespace zibbet::test {

/// test_options - a run's options as a bare command line gives them: the
/// program named "zibbet", the default templates, and nothing else set.
inline options test_options() {
  options o;
  o.prog_name = "zibbet";
  o.message = default_message;
  o.status_message = default_status_message;
  o.interval = 1;
  return o;
}

/// test_watch - the watch settings of a run whose user is `own_name`.
inline watch_settings test_watch(std::optional<std::string> own_name = std::nullopt) {
  watch_settings ws;
  ws.own_name = std::move(own_name);
  return ws;
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
