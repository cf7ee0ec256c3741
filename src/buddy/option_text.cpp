// option_text.cpp - placeholder until the quoting rules land: no words.
#include "buddy/option_text.h"

namespace zibbet {

int split_option_text(std::string_view, arg_vector& out) {
  out = arg_vector({global_settings.prog_name});
  return out.argc();
}

}  // namespace zibbet
