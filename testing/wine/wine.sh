# What the Wine test scripts share: a virtual X display and a fresh prefix of their own, ended
# with the script, and a look at the registry. Requires $out and an exported WINEPREFIX.

xvfb_pid=""
wine_cleanup() {
  # The prefix is the script's own: ending its wineserver ends only what the script started.
  wineserver -k 2>/dev/null
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
}
trap wine_cleanup EXIT

# Starts Xvfb on a free display, exports DISPLAY and makes the prefix; exits when Xvfb fails.
start_display_and_prefix() {
  # Xvfb picks a free display itself and writes its number once it accepts clients.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$out/display" 2>"$out/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [[ -s $out/display ]] && break
    sleep 0.1
  done
  [[ -s $out/display ]] || { echo "FAILED: Xvfb did not start"; exit 1; }
  export DISPLAY=:$(head -n1 "$out/display")
  wineboot -i >/dev/null 2>&1
}

# Without a window manager Wine draws the caption itself only for unmanaged windows.
draw_captions() {
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
}

default_value() {  # KEY below HKLM, then the REG_SZ text its default value must hold
  wine reg query "HKLM\\$1" /ve 2>/dev/null | tr -d '\r' | grep -Eq "^ +\(Default\) +REG_SZ +$2\$"
}
