# Sourced by the window tests. start_xvfb LOGFILE starts Xvfb on a free display (one with no lock
# file and no socket; the next one when another program takes it first), exports DISPLAY and
# keeps the server's process id in $xvfb_pid; it returns 1 when no display could be started.
# stop_xvfb ends that server by its id.
xvfb_pid=
start_xvfb() {
  local log=$1 n
  for n in $(seq 57 120); do
    [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
      [[ -e /tmp/.X11-unix/X$n ]] && break
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
    if [[ -e /tmp/.X11-unix/X$n ]] && kill -0 "$xvfb_pid" 2>/dev/null; then
      export DISPLAY=:$n
      return 0
    fi
    stop_xvfb
  done
  return 1
}
stop_xvfb() {
  if [[ -n $xvfb_pid ]]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=
  fi
  return 0
}
