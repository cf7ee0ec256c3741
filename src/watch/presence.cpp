// presence.cpp - making a presence from a live login record.
#include "watch/presence.h"

namespace zibbet {

std::unique_ptr<presence> presence_new(const utmpx& live) {
  auto p = std::make_unique<presence>();
  p->record = std::make_unique<const utmpx>(live);
  p->entry = p->record.get();
  p->state = PRESENCE_NEW;
  return p;
}

}  // namespace zibbet
