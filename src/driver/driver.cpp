// driver.cpp - start-up and the polling loop.
#include "driver/driver.h"

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "buddy/buddy.h"
#include "buddy/sources.h"
#include "watch/scan.h"

namespace zibbet {

namespace {

volatile sig_atomic_t stop_requested = 0;

void request_stop(int) { stop_requested = 1; }

// install_signals - SIGINT, SIGTERM and SIGHUP cut the pause short, so the
// loop ends and buffered status lines are written out; without SA_RESTART
// a pending pause returns at once. SIGPIPE keeps its default: a reader of
// standard output that goes away ends the watcher like any filter (the
// greeting's own pipe is guarded where it is written).
void install_signals() {
  struct sigaction sa {};
  sa.sa_handler = request_stop;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
}

void load_buddies(buddy_table& buddies) {
  const settings& s = global_settings;
  if (s.all_users != 0) {
    load_all_users(buddies);
    return;
  }
  if (s.users) load_user_list(*s.users, buddies);
  if (s.no_buddyfile == 0) (void)load_buddyfile(s.buddyfile, buddies);
}

}  // namespace

void lookup_own_name() {
  uid_t uid = getuid();
  if (const passwd* pw = getpwuid(uid); pw != nullptr && pw->pw_name != nullptr) {
    global_settings.own_name = pw->pw_name;
    return;
  }
  std::fprintf(stderr, "uh, your uid (%d) wasn't found..\n", static_cast<int>(uid));
  std::fputs("so I'm setting your name to \"dumbass\".\n", stderr);
  global_settings.own_name = "dumbass";
}

std::int16_t greet_mode_for(const settings& s, bool first_pass) {
  if (first_pass && s.process_current == 0) return -1;
  return s.write_buddies;
}

int run(int argc, char** argv) {
  parse_settings(argc, argv, global_settings);
  buddy_table buddies;
  lookup_own_name();
  load_buddies(buddies);

  if (buddies.item_count() == 0) {
    std::fprintf(stderr, "%s: no buddies specified\n", global_settings.prog_name.c_str());
    std::fputs("well, if you don't have any friends for\n", stderr);
    std::fputs("me to watch, I'm going away!\n", stderr);
    std::exit(1);
  }

  install_signals();
  scan_logins(buddies, greet_mode_for(global_settings, true));
  if (global_settings.process_once != 0) return 0;
  for (;;) {
    if (stop_requested != 0) return 0;
    if (sleep(global_settings.interval) != 0 || stop_requested != 0) return 0;
    scan_logins(buddies, greet_mode_for(global_settings, false));
  }
}

}  // namespace zibbet
