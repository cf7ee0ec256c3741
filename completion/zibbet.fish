# fish completion for zibbet. Installed as
# share/fish/vendor_completions.d/zibbet.fish; works on its own too:
# `source completion/zibbet.fish`.
#
# Completes the options, a file after -f/--buddyfile, user names after
# -u/--users (the last name of a comma-separated list), and nothing after
# the other options that take a value.

# __zibbet_users - user names, each after the names already typed before
# the last comma of the current word.
function __zibbet_users
    set -l word (commandline -ct)
    set word (string replace -r -- '^(-u|--users=)' '' $word)
    set -l head ''
    string match -q -- '*,*' $word; and set head (string replace -r -- ',[^,]*$' ',' $word)
    for user in (__fish_print_users)
        printf '%s%s\n' $head $user
    end
end

complete -c zibbet -f
complete -c zibbet -s a -l all-users -d 'Watch every user of the password database'
complete -c zibbet -s c -l exec-command -x -d 'Run this command template for every new login'
complete -c zibbet -s f -l buddyfile -r -F -d 'Read the buddies from this file'
complete -c zibbet -s F -l no-buddyfile -d 'Read no buddy file'
complete -c zibbet -s h -l help -d 'Print the options and exit'
complete -c zibbet -s i -l interval -x -d 'Seconds between passes'
complete -c zibbet -s m -l message -x -d 'Greeting template'
complete -c zibbet -s n -l no-newline -d 'End no line with a newline'
complete -c zibbet -s o -l process-once -d 'Make one pass and exit'
complete -c zibbet -s p -l process-current -d 'Greet those already logged in too'
complete -c zibbet -s q -l silent -d 'Do not greet buddies'
complete -c zibbet -s s -l status-message -x -d 'Status line template'
complete -c zibbet -s u -l users -x -a '(__zibbet_users)' -d 'Watch these users (comma-separated)'
complete -c zibbet -s v -l version -d 'Print the version and exit'
complete -c zibbet -s w -l write-buddies -d 'Greet buddies on their terminals'
