// logind_source.cpp - placeholder until sessions are read.
#include "watch/logind_source.h"

namespace zibbet {

logind_support logind_support_here() {
  return logind_support::not_built;
}

std::unique_ptr<login_source> make_logind_source() {
  return nullptr;
}

}  // namespace zibbet
