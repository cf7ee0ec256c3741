// version.h - the program's version, set once by the build.
#pragma once

#include <string_view>

namespace zibbet {

/// The program's version, as the build sets it.
inline constexpr std::string_view version_text = ZIBBET_VERSION;

}  // namespace zibbet
