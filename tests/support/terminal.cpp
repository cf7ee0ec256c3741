// terminal.cpp - pseudo-terminals and the fake write utility.
#include "support/terminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace zibbet::test {

pseudo_terminal::pseudo_terminal() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
    if (const char* name = ptsname(master_)) line_ = std::string(name).substr(std::strlen("/dev/"));
  }
}

pseudo_terminal::~pseudo_terminal() {
  if (master_ >= 0) close(master_);
}

const char* const logging_write_script =
    "#!/bin/sh\n"
    "{ printf 'argv:'; printf ' [%s]' \"$@\"; printf '\\n'; cat; } >> \"${FAKE_WRITE_LOG:?}\"\n";

std::string install_fake_write(const temp_dir& dir, const std::string& script) {
  std::string bin = dir / "bin";
  mkdir(bin.c_str(), 0755);
  std::string path = dir.write_file("bin/write", script);
  chmod(path.c_str(), 0755);
  return bin;
}

}  // namespace zibbet::test
