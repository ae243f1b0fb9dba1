# Sourced. running PID: true while the process exists and has not ended. One that has ended stays
# a zombie until its parent reaps it (a shell's child until the shell waits for it; a daemon's,
# init, in its own time), and kill -0 still finds it: a loop on kill -0 waits out its whole grace.
running() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  [ "${stat%% *}" != Z ]
}
