#!/usr/bin/env bash
# Builds the Debian package twice (this version and a higher one), checks it
# with lintian, installs it on this machine with apt-get, tests the installed
# system as an unprivileged user, upgrades, removes and purges it, and
# compares the machine's file list from before the installation with the one
# after the purge. Run as root on a Debian 12 machine where Somnara is not
# installed; it leaves the machine as it found it.
#
# The packages, lintian's output and the file lists are kept in
# build/package-test/ (lintian's output and the lists are also printed).
# SOMNARA_PACKAGE_TEST_REUSE=1 takes the packages a previous run left there
# instead of building them again. SOMNARA_PACKAGE_TEST_UNWATCHED may name
# more directories (space-separated) left out of the file-list comparison,
# for machines where other work writes there meanwhile.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

fail() { echo "package test: FAIL: $*" >&2; exit 1; }
step() { printf '\n=== %s (%ds)\n' "$*" "$SECONDS"; }
check() {  # check <what> <command...>: the command must succeed
  local what=$1; shift
  "$@" || fail "$what"
  echo "ok  $what"
}

[ "$(id -u)" = 0 ] || fail "run as root (it installs the package)"
# scripts/deps.sh installs the build dependencies from debian/control itself;
# a package it misses fails here rather than half way through a build.
check "build dependencies of debian/control installed" dpkg-checkbuilddeps
if dpkg-query -W -f '${Status}' somnara 2>/dev/null | grep -q 'ok installed\|config-files'; then
  fail "somnara is already on this machine; purge it first"
fi

artifacts=$top/build/package-test
mkdir -p "$artifacts"
rm -f "$artifacts"/*.txt
work=$(mktemp -d /tmp/somnara-package.XXXXXX)
chmod 755 "$work"   # apt's unprivileged download user reads the .deb here
user=nobody group=nogroup
home=$work/home
bundle=/usr/lib/somnara/Somnara.app
pmset=/usr/lib/somnara/pmset
repair=/usr/lib/somnara/pmsethelper-repair
daemon="$bundle/Contents/Library/LoginItems/Somnara Daemon.app/Contents/MacOS/Somnara Daemon"
agent="$bundle/Contents/Library/LoginItems/Somnara MenuBar.app/Contents/MacOS/Somnara MenuBar"
prefs=$bundle/Contents/MacOS/Somnara
suspend_dropins=/etc/systemd/system/systemd-suspend.service.d
admin_dropin=$suspend_dropins/10-admin-test.conf
installed_by_us=0
planted_dropin_dir=0

cleanup() {
  set +e
  if [ "$installed_by_us" = 1 ]; then apt-get purge -y -qq somnara >/dev/null 2>&1; fi
  rm -f "$admin_dropin"
  if [ "$planted_dropin_dir" = 1 ]; then rmdir "$suspend_dropins" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

apt_get() { apt-get -y -qq -o Dpkg::Use-Pty=0 --no-install-recommends "$@"; }

# Runs a command as the unprivileged user with a clean environment.
as_user() {
  setpriv --reuid="$user" --regid="$group" --clear-groups -- \
    env -i HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR="$home/runtime" \
    PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"
}

# Builds the package from a copy of the tree at the given version into
# $artifacts.
build_package() {
  local version=$1 dir=$work/build-$1
  mkdir -p "$dir/somnara"
  tar -C "$top" --exclude=./build --exclude='./build-*' --exclude=./.git -c . | tar -x -C "$dir/somnara"
  if [ "$version" != "$(cat "$top/VERSION")" ]; then
    (cd "$dir/somnara" && scripts/set-version.sh "$version" "Upgrade test build." )
  fi
  if ! (cd "$dir/somnara" && DEB_BUILD_OPTIONS="nocheck noddebs parallel=$(nproc)" \
          dpkg-buildpackage -us -uc -b >"$dir/build.log" 2>&1); then
    tail -n 60 "$dir/build.log" >&2
    fail "dpkg-buildpackage of $version"
  fi
  cp "$dir"/somnara_"$version"_* "$artifacts/"
}

# Every path on the machine outside users' homes, the package manager's own
# state and logs, caches that desktop triggers rebuild, the scratch
# directories other programs on the machine write meanwhile (Somnara's own
# leftovers there are looked for by name, see somnara_scratch_files) and the
# source tree.
machine_files() {
  local prune=(/proc /sys /dev /home /root /var/lib/dpkg /var/lib/apt /var/cache/apt
               /var/cache/debconf /var/cache/man /var/cache/ldconfig /var/log/apt
               /tmp /var/tmp "$top")
  local d
  for d in ${SOMNARA_PACKAGE_TEST_UNWATCHED:-}; do prune+=("$d"); done
  local expr=()
  for d in "${prune[@]}"; do expr+=(-path "$d" -prune -o); done
  find / "${expr[@]}" -print 2>/dev/null |
    grep -v -x -e /var/log/dpkg.log -e /var/log/alternatives.log \
               -e /usr/share/applications/mimeinfo.cache \
               -e /usr/share/icons/hicolor/icon-theme.cache | LC_ALL=C sort -T "$work"
}

helpers() { find "$bundle" -type f -name pmsethelper; }
running() { pgrep -u "$user" -f "^$bundle/" >/dev/null; }

version=$(cat VERSION)
next_version=$(awk -F. -v OFS=. '{ $NF = $NF + 1; print }' VERSION)
arch=$(dpkg --print-architecture)

deb1=somnara_${version}_${arch}.deb
deb2=somnara_${next_version}_${arch}.deb
if [ "${SOMNARA_PACKAGE_TEST_REUSE:-0}" = 1 ]; then
  step "Packages $version and $next_version from an earlier run"
else
  step "Package build $version and $next_version"
  rm -f "$artifacts"/somnara_*
  build_package "$version"
  build_package "$next_version"
fi
[ -f "$artifacts/$deb1" ] && [ -f "$artifacts/$deb2" ] || fail "no .deb in $artifacts"
cp "$artifacts/$deb1" "$artifacts/$deb2" "$work/"
dpkg-deb --info "$work/$deb1" | sed -n '/Package:/,/Description:/p'

step "lintian"
lintian --info --display-info "$artifacts/somnara_${version}_${arch}.changes" 2>&1 | tee "$artifacts/lintian.txt" || true
if grep -E '^(E|W): ' "$artifacts/lintian.txt"; then fail "lintian reports errors or warnings"; fi
echo "ok  lintian: no errors, no warnings"

step "Before installation"
# Package dependencies first, so the file lists differ by Somnara alone.
apt_get satisfy "$(dpkg-deb -f "$work/$deb1" Depends)" >/dev/null
install -d -o "$user" -g "$group" "$home" "$home/runtime" "$home/.config/somnara"
touch "$work/installation-start"
machine_files >"$artifacts/files-before.txt"
wc -l <"$artifacts/files-before.txt"

step "apt-get install ./$deb1"
installed_by_us=1
(cd "$work" && apt_get install "./$deb1")
dpkg -L somnara | tee "$artifacts/installed-files.txt"

step "Installed layout"
for f in "$pmset" "$repair" "$daemon" /usr/bin/somnara; do
  check "$f: root-owned executable, writable by root only" \
    test "$(stat -c '%U %G %a' "$f")" = "root root 755"
done
mapfile -t helper_files < <(helpers)
[ "${#helper_files[@]}" -ge 1 ] || fail "no pmsethelper in the bundle"
for h in "${helper_files[@]}"; do
  check "$h: root:root 4755" test "$(stat -c '%U %G %a' "$h")" = "root root 4755"
  check "$h: registered with dpkg-statoverride" test -n "$(dpkg-statoverride --list "$h")"
done
check "desktop entry valid" desktop-file-validate /usr/share/applications/de.orvane.Somnara.desktop
check "AppStream metainfo valid" appstreamcli validate --no-net /usr/share/metainfo/de.orvane.Somnara.metainfo.xml
check "polkit action runs the installed repair tool with admin authentication" python3 - "$repair" <<'EOF'
import sys, xml.etree.ElementTree as ET
action = ET.parse("/usr/share/polkit-1/actions/de.orvane.Somnara.policy").find("action")
path = action.find("annotate[@key='org.freedesktop.policykit.exec.path']").text
defaults = [e.text for e in action.find("defaults")]
sys.exit(0 if path == sys.argv[1] and defaults == ["auth_admin"] * 3 else 1)
EOF
for page in 1/somnara 8/pmset 8/pmsethelper 8/pmsethelper-repair; do
  check "manual page ${page#*/}(${page%/*})" test -f "/usr/share/man/man${page%/*}/${page#*/}.${page%/*}.gz"
done
for icon in "$top"/packaging/icons/hicolor/*/apps/*; do
  [ -e "$icon" ] || continue
  check "application icon ${icon#"$top"/packaging/icons/}" test -f "/usr/share/icons/${icon#"$top"/packaging/icons/}"
done

# The daemon carries nothing of the desktop ports: no X, sound or Qt Gui libraries.
check "the daemon links no xcb, canberra, vorbis or Qt Gui library" \
  sh -c '! ldd "$1" | grep -Eq "libxcb|libcanberra|libvorbis|libQt6Gui"' sh "$daemon"

step "The unprivileged user changes the sleep mode through the installed helper"
mode_now() { as_user "$pmset" -g | head -n 1; }  # "hibernatemode N"
# Hibernation where this machine can do it; elsewhere the power tool must
# refuse it (exit 4) and plain suspend stands in.
check "helper sets forced mode 0" as_user "${helper_files[0]}" "$pmset" force hibernatemode 0
if as_user "$pmset" -g | grep -qx 'hibernate: no.*'; then
  echo "this machine cannot hibernate: $(as_user "$pmset" -g | grep '^hibernate:')"
  check "helper's run of hibernation the machine cannot do is refused (4)" \
    test "$(as_user "${helper_files[0]}" "$pmset" force hibernatemode 3 2>/dev/null; echo $?)" = 4
  check "mode still 0 after the refusal" test "$(mode_now)" = "hibernatemode 0"
  forced_modes=(0) saved_mode=0 refusal=4
else
  forced_modes=(3 0) saved_mode=25 refusal=1
fi
for h in "${helper_files[@]}"; do
  for mode in "${forced_modes[@]}"; do
    check "helper sets forced mode $mode" as_user "$h" "$pmset" force hibernatemode "$mode"
    check "pmset -g shows $mode" test "$(mode_now)" = "hibernatemode $mode"
    check "/run/somnara/hibernatemode holds $mode" test "$(cat /run/somnara/hibernatemode)" = "$mode"
  done
done
check "helper saves mode $saved_mode" as_user "${helper_files[0]}" "$pmset" hibernatemode "$saved_mode"
check "saved settings written by root" test "$(stat -c %U /etc/somnara/PowerManagement.plist)" = root
# (where the machine cannot hibernate, that refusal comes first: 4)
check "pmset alone is refused to the user" test "$(as_user "$pmset" force hibernatemode 3 2>/dev/null; echo $?)" = "$refusal"
check "helper refuses another tool" test "$(as_user "${helper_files[0]}" /bin/true force hibernatemode 3 2>/dev/null; echo $?)" = 64
check "mode still $saved_mode" test "$(mode_now)" = "hibernatemode $saved_mode"

step "Programs start from the installed paths"
start_program() {  # start_program <name> <path> [xvfb]: runs 3 s, then ends within 25 s of SIGTERM
  # (the daemon retries its last mode change for up to ~15 s where the mode
  # does not read back, as in a container without sleep support)
  local name=$1 path=$2 gui=${3:-}
  if [ ! -x "$path" ]; then
    echo "SKIP $name: $path is not in this build"
    return
  fi
  local cmd=(dbus-run-session -- "$path")
  [ -n "$gui" ] && cmd=(xvfb-run -a -s "-nolisten tcp" "${cmd[@]}")
  as_user "${cmd[@]}" >"$work/$name.log" 2>&1 &
  local launcher=$!
  sleep 3
  local pid
  pid=$(pgrep -u "$user" -x -f "$path" | head -n 1) || { cat "$work/$name.log"; fail "$name did not stay up"; }
  kill -TERM "$pid"
  local tenths=0
  while kill -0 "$pid" 2>/dev/null && [ $tenths -lt 250 ]; do sleep 0.1; tenths=$((tenths + 1)); done
  check "$name ended on SIGTERM (after $((tenths / 10)).$((tenths % 10)) s)" bash -c "! kill -0 $pid 2>/dev/null"
  wait "$launcher" || true
}
start_program daemon "$daemon"
start_program agent "$agent" xvfb
start_program preferences "$prefs" xvfb

step "Upgrade to $next_version keeps privileges and settings"
cat >"$home/.config/somnara/de.orvane.Somnara.plist" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>hibernatelevel</key>
	<integer>35</integer>
	<key>somnaramodeindex</key>
	<integer>1</integer>
</dict>
</plist>
EOF
chown "$user:$group" "$home/.config/somnara/de.orvane.Somnara.plist"
cp "$home/.config/somnara/de.orvane.Somnara.plist" "$work/settings.orig"
# An administrator's choice for one helper: only group nogroup may run it.
restricted=${helper_files[0]}
dpkg-statoverride --force-statoverride-add --update --add root "$group" 4754 "$restricted"
(cd "$work" && apt_get install "./$deb2")
check "version $next_version installed" test "$(dpkg-query -W -f '${Version}' somnara)" = "$next_version"
check "administrator's override kept" test "$(stat -c '%U %G %a' "$restricted")" = "root $group 4754"
for h in "${helper_files[@]}"; do
  [ "$h" = "$restricted" ] && continue
  check "$h: still root:root 4755" test "$(stat -c '%U %G %a' "$h")" = "root root 4755"
done
check "helper still works after the upgrade" as_user "$restricted" "$pmset" force hibernatemode "${forced_modes[0]}"
check "user's settings unchanged" cmp "$home/.config/somnara/de.orvane.Somnara.plist" "$work/settings.orig"
check "saved system settings kept" test -f /etc/somnara/PowerManagement.plist

step "apt-get remove"
# What the power tool leaves where systemd runs, and an interrupted write's
# temporary files; an administrator's own drop-in must survive.
if [ -d /etc/systemd/system ]; then
  [ -d "$suspend_dropins" ] || planted_dropin_dir=1
  mkdir -p "$suspend_dropins"
  printf '[Service]\nExecStart=\nExecStart=/lib/systemd/systemd-sleep hibernate\n' \
    | tee "$suspend_dropins/50-somnara.conf" "$suspend_dropins/.50-somnara.conf.Ab12Cd" >/dev/null
  printf '[Service]\nEnvironment=ADMIN=1\n' >"$admin_dropin"
fi
echo 3 >/etc/somnara/.PowerManagement.plist.Xy34Zw
if [ -x "$daemon" ]; then
  as_user dbus-run-session -- "$daemon" >"$work/daemon-remove.log" 2>&1 &
  sleep 2
  check "daemon running before removal" running
fi
apt_get remove somnara | tee "$work/remove.log"
check "programs ended by SIGTERM, none killed" bash -c "! grep -q 'still running' '$work/remove.log'"
check "no Somnara program left running" bash -c "! pgrep -u $user -f '^$bundle/' >/dev/null"
wait || true
check "bundle and tools gone" test ! -e /usr/lib/somnara
check "/run/somnara gone" test ! -e /run/somnara
check "drop-ins and temporary files gone" \
  bash -c "! ls -a $suspend_dropins 2>/dev/null | grep -q somnara"
[ -d /etc/systemd/system ] && check "administrator's drop-in kept" test -f "$admin_dropin"
check "saved system settings kept until purge" test -f /etc/somnara/PowerManagement.plist
check "temporary settings file gone" test ! -e /etc/somnara/.PowerManagement.plist.Xy34Zw
check "user's settings kept" cmp "$home/.config/somnara/de.orvane.Somnara.plist" "$work/settings.orig"

step "apt-get purge"
apt_get purge somnara
installed_by_us=0
check "/etc/somnara gone" test ! -e /etc/somnara
check "no privilege overrides left" test -z "$(dpkg-statoverride --list '/usr/lib/somnara/*')"
check "user's settings kept" cmp "$home/.config/somnara/de.orvane.Somnara.plist" "$work/settings.orig"
rm -f "$admin_dropin"
if [ "$planted_dropin_dir" = 1 ]; then rmdir "$suspend_dropins"; planted_dropin_dir=0; fi

step "After purge"
machine_files >"$artifacts/files-after.txt"
if ! diff "$artifacts/files-before.txt" "$artifacts/files-after.txt" >"$artifacts/files-diff.txt"; then
  cat "$artifacts/files-diff.txt"
  fail "files differ from before the installation (< before, > after)"
fi
echo "ok  the same $(wc -l <"$artifacts/files-after.txt") files as before the installation"
# Files named for Somnara that appeared in the scratch directories since.
leftovers=$(find /tmp /var/tmp \( -path "$work" -o -path "$top" \) -prune -o -iname '*somnara*' -newer "$work/installation-start" -print)
[ -z "$leftovers" ] || fail "files left in the scratch directories: $leftovers"
echo "ok  nothing of Somnara's left in /tmp or /var/tmp"
step "Package test passed"
