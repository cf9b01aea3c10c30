#!/bin/sh
# The test user's login session: probes whether polkit grants this session
# the lid-switch lock, then runs the installed daemon and agent on a session
# bus of their own. Output and process ids go to ~/.somnara-test/.
set -u
bundle=/usr/lib/somnara/Somnara.app/Contents/Library/LoginItems
daemon="$bundle/Somnara Daemon.app/Contents/MacOS/Somnara Daemon"
agent="$bundle/Somnara MenuBar.app/Contents/MacOS/Somnara MenuBar"
out=$HOME/.somnara-test
mkdir -p "$out"
systemd-inhibit --what=handle-lid-switch --mode=block --who="somnara test" --why="lock probe" true \
  >"$out/lid-probe.log" 2>&1
echo $? >"$out/lid-probe.status"
exec dbus-run-session -- sh -c '
  "$1" >"$3/daemon.log" 2>&1 &
  echo $! >"$3/daemon.pid"
  QT_QPA_PLATFORM=offscreen "$2" >"$3/agent.log" 2>&1 &
  echo $! >"$3/agent.pid"
  wait' session "$daemon" "$agent" "$out"
