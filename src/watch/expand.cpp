// expand.cpp - placeholder until template expansion lands.
#include "watch/expand.h"

namespace zibbet {

void set_expand_clock(clock_fn) {}

std::optional<std::string> bud_expand_fmt(const presence* p, const char* tmpl, expand_use) {
  if (p == nullptr || tmpl == nullptr) return std::nullopt;
  return std::string(tmpl);
}

}  // namespace zibbet
