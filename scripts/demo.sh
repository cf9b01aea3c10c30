#!/usr/bin/env bash
# The daemon on a simulated laptop: builds it, makes a fake machine root whose
# battery drains from 100 % to 0 % over about a minute, runs the real daemon in
# adaptive mode against it on a private session bus, and prints the
# hibernatemode it writes as the battery falls through 20 % and 4 %, and what
# it falls back to once swap is switched off. Then it stops the daemon and
# shows the saved system default put back.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
[ "${SOMNARA_DEMO_SKIP_DEPS:-0}" = 1 ] || bash scripts/deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target somnara-daemon pmset pmsethelper >/dev/null

work=$(mktemp -d /tmp/somnara-demo.XXXXXX)
trap 'rm -rf "$work"' EXIT
root=$work/root
scripts/fake-laptop.sh init "$root" 0          # saved system default: 0 (plain suspend)
mkdir -p "$work/config/somnara"
cat > "$work/config/somnara/de.orvane.Somnara.plist" <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>somnaramodeindex</key>
	<integer>1</integer>
	<key>hibernatelevel</key>
	<integer>20</integer>
</dict>
</plist>
PLIST

export SOMNARA_ROOT=$root XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state
export DEMO_DAEMON="$top/build/Somnara.app/Contents/Library/LoginItems/Somnara Daemon.app/Contents/MacOS/Somnara Daemon"
export DEMO_TOP=$top DEMO_ROOT=$root
# The private bus daemon's own complaints (fd limits and such) are not shown.
dbus-run-session -- bash -c '
  exec 2>&3 3>&-
  meaning() { case "$1" in 0) echo "sleep";; 3) echo "sleep and hibernate";; 1|25) echo "hibernate";; *) echo "?";; esac; }
  mode() { cat "$DEMO_ROOT/run/somnara/hibernatemode" 2>/dev/null || echo none; }
  echo "Adaptive mode, hibernate level 20 %; saved system default: hibernatemode 0"
  "$DEMO_DAEMON" 2>"$DEMO_ROOT/daemon.log" &
  daemon=$!
  last=none
  for pct in $(seq 100 -2 0); do
    "$DEMO_TOP/scripts/fake-laptop.sh" set "$DEMO_ROOT" "$pct"
    sleep 1.2
    now=$(mode)
    if [ "$now" != "$last" ]; then
      printf "battery %3d %%  ->  hibernatemode %s (%s)\n" "$pct" "$now" "$(meaning "$now")"
      last=$now
    fi
  done
  "$DEMO_TOP/scripts/fake-laptop.sh" swap "$DEMO_ROOT" 0
  sleep 4
  printf "swap switched off ->  hibernatemode %s (%s): this laptop can no longer hibernate\n" "$(mode)" "$(meaning "$(mode)")"
  echo "Stopping the daemon (SIGTERM)..."
  kill -TERM "$daemon"; wait "$daemon"; status=$?
  echo "daemon exited with status $status; hibernatemode now $(mode) (the saved system default)"
' 3>&2 2>/dev/null
