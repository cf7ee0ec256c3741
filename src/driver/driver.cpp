// driver.cpp - start-up and the polling loop: the one place that decides
// how the program ends.
#include "driver/driver.h"

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "common/diag.h"
#include "buddy/options.h"
#include "buddy/sources.h"
#include "driver/messages.h"
#include "driver/source_choice.h"
#include "watch/context.h"
#include "watch/scan.h"

namespace zibbet {

namespace {

volatile sig_atomic_t stop_requested = 0;

void request_stop(int) {
  stop_requested = 1;
}

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

// load_buddies - the buddies the run's settings name: everybody with -a,
// else the -u list and the buddy file.
load_outcome load_buddies(const settings& run, buddy_table& buddies) {
  if (run.all_users != 0) {
    load_all_users(buddies);
    return load_outcome::ok;
  }
  if (run.users) load_user_list(*run.users, buddies);
  return load_buddyfile(run, buddies);
}

// exit_status_of - how a run ends when loading stopped early; nullopt
// when it goes on.
std::optional<int> exit_status_of(load_outcome outcome, const settings& run) {
  switch (outcome) {
    case load_outcome::ok: return std::nullopt;
    case load_outcome::quoting:
      bail_message(run.prog_name, "error parsing config file\n");
      return 1;
    case load_outcome::help:
      print_version(run.prog_name);
      print_usage(run.prog_name);
      return 0;
    case load_outcome::version: print_version(run.prog_name); return 0;
  }
  return 1;
}

}  // namespace

std::string lookup_own_name() {
  uid_t uid = getuid();
  if (const passwd* pw = getpwuid(uid); pw != nullptr && pw->pw_name != nullptr) return pw->pw_name;
  std::fprintf(stderr, "uh, your uid (%d) wasn't found..\n", static_cast<int>(uid));
  std::fputs("so I'm setting your name to \"dumbass\".\n", stderr);
  return "dumbass";
}

std::int16_t greet_mode_for(const settings& s, bool first_pass) {
  if (first_pass && s.process_current == 0) return -1;
  return s.write_buddies;
}

int run(int argc, char** argv) {
  settings run;
  switch (parse_options(argc, argv, run)) {
    case parse_outcome::ok: break;
    case parse_outcome::help:
      print_version(run.prog_name);
      print_usage(run.prog_name);
      return 0;
    case parse_outcome::version: print_version(run.prog_name); return 0;
  }

  std::unique_ptr<login_source> source = open_login_source(run.prog_name);
  if (!source) return 1;

  run.own_name = lookup_own_name();
  buddy_table buddies;
  if (std::optional<int> status = exit_status_of(load_buddies(run, buddies), run)) return *status;
  if (buddies.size() == 0) {
    warn(run.prog_name, "no buddies specified");
    std::fputs("well, if you don't have any friends for\n", stderr);
    std::fputs("me to watch, I'm going away!\n", stderr);
    return 1;
  }

  install_signals();
  watch_context ctx{run};
  scan_logins(buddies, *source, ctx, greet_mode_for(run, true));
  if (run.process_once != 0) return 0;
  for (;;) {
    if (stop_requested != 0) return 0;
    if (sleep(run.interval) != 0 || stop_requested != 0) return 0;
    scan_logins(buddies, *source, ctx, greet_mode_for(run, false));
  }
}

}  // namespace zibbet
