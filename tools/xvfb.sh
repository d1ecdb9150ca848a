# Sourced: km_start_display starts Xvfb when no display is set;
# km_stop_display stops only the one it started.
KM_XVFB_PID=""
km_start_display() {
  if [ -n "${DISPLAY:-}" ]; then return; fi
  local n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  KM_XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && return; sleep 0.1; done
  echo "Xvfb did not start" >&2; return 1
}
km_stop_display() {
  if [ -n "$KM_XVFB_PID" ]; then kill "$KM_XVFB_PID" 2>/dev/null || true; wait "$KM_XVFB_PID" 2>/dev/null || true; fi
}
