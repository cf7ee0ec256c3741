// driver.cpp - start-up and the polling loop: the one place that decides
// how the program ends.
#include "driver/driver.h"

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "buddy/options.h"
#include "buddy/sources.h"
#include "common/diag.h"
#include "driver/greeter_choice.h"
#include "driver/messages.h"
#include "driver/source_choice.h"
#include "output/host_actions.h"
#include "watch/scan.h"
#include "watch/watch_settings.h"

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
load_outcome load_buddies(const options& run, const std::string& own_name, buddy_table& buddies,
                          notice_book& book) {
  if (run.all_users) {
    load_all_users(buddies, book);
    return load_outcome::ok;
  }
  if (run.users) load_user_list(*run.users, buddies, book);
  return load_buddyfile(run, own_name, buddies, book);
}

// exit_status_of - how a run ends when loading stopped early; nullopt
// when it goes on.
std::optional<int> exit_status_of(load_outcome outcome, const options& run) {
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
  say("uh, your uid (%d) wasn't found..\n", static_cast<int>(uid));
  say("so I'm setting your name to \"dumbass\".\n");
  return "dumbass";
}

bool pass_may_greet(const options& run, bool first_pass) {
  return !first_pass || run.process_current;
}

int run(int argc, char** argv) {
  options run;
  switch (parse_options(argc, argv, run)) {
    case parse_outcome::ok: break;
    case parse_outcome::help:
      print_version(run.prog_name);
      print_usage(run.prog_name);
      return 0;
    case parse_outcome::version: print_version(run.prog_name); return 0;
  }

  // The buddies go after the source: a large free while 100,000 freed
  // nodes sit in malloc's fastbins makes it consolidate all of them.
  notice_book book(notice_of(run));
  buddy_table buddies;
  chosen_source chosen = open_login_source(run.prog_name);
  if (!chosen.source) return 1;
  login_source& source = *chosen.source;
  greeter_decision greeter =
      decide_greeter(std::getenv("ZIBBET_GREETER"), this_greeter_host(chosen.logind));
  if (!greeter.delivery) {
    warn(run.prog_name, "%s", greeter.error.c_str());
    return 1;
  }

  const std::string own_name = lookup_own_name();
  if (std::optional<int> status = exit_status_of(load_buddies(run, own_name, buddies, book), run))
    return *status;
  if (buddies.size() == 0) {
    warn(run.prog_name, "no buddies specified");
    say("well, if you don't have any friends for\n");
    say("me to watch, I'm going away!\n");
    return 1;
  }

  install_signals();
  const watch_settings ws{own_name, run.write_buddies, run.no_newline, nullptr};
  host_actions out(greeting_settings{run.prog_name, own_name, run.no_newline,
                                     std::chrono::seconds(10), *greeter.delivery});
  scan_logins(buddies, source, ws, pass_may_greet(run, true), out);
  out.reap();
  if (run.process_once) return 0;
  for (;;) {
    if (stop_requested != 0) return 0;
    if (sleep(run.interval) != 0 || stop_requested != 0) return 0;
    scan_logins(buddies, source, ws, pass_may_greet(run, false), out);
    out.reap();
  }
}

}  // namespace zibbet
