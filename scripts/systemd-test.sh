#!/usr/bin/env bash
# Boots a Debian 12 systemd in a container (systemd-nspawn), installs the
# package there and checks it against the real systemd, logind, polkit and
# D-Bus: the sleep mode each setting gives systemd-suspend.service, one
# daemon-reload per change, the daemon's and the agent's logind locks inside
# and outside a real login session, and that the machine still sleeps in
# every mode although it cannot hibernate. Run as root, after
# scripts/package-test.sh (it takes that stage's .deb from
# build/package-test/ and builds one the same way when there is none).
#
# The container's root is built once with mmdebstrap from this machine's apt
# sources and kept in build/systemd-root/<key>/, where <key> is a hash of its
# package list; the container runs on a throw-away overlay of it. The
# container never touches this machine's power state: /sys is read-only,
# /sys/power and /sys/class/power_supply are small fake trees, and
# systemd-sleep writes into scratch copies of the /sys/power files.
#
# SOMNARA_SYSTEMD_TEST_TIMEOUT: seconds the checks may take (default 600).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

fail() { echo "systemd test: FAIL: $*" >&2; exit 1; }
step() { printf '\n=== %s (%ds)\n' "$*" "$SECONDS"; }

[ "$(id -u)" = 0 ] || fail "run as root (it boots a container)"
for tool in systemd-nspawn mmdebstrap nsenter; do
  command -v "$tool" >/dev/null || fail "$tool is missing; run scripts/deps.sh"
done

version=$(cat VERSION)
arch=$(dpkg --print-architecture)
deb=$top/build/package-test/somnara_${version}_${arch}.deb
cache=$top/build/systemd-root
machine=somnara-test-$$
user=somnatester
share=/run/somnara-test/share      # in the container: the .deb and the checks
sleep_scratch=/run/somnara-test/sleep
checks_timeout=${SOMNARA_SYSTEMD_TEST_TIMEOUT:-600}

scratch=
nspawn_pid=
container_pid=
cgroups=()
created_run_systemd=0
[ -e /run/systemd ] || created_run_systemd=1

cleanup() {
  local status=$?
  set +e
  if [ -n "$nspawn_pid" ] && kill -0 "$nspawn_pid" 2>/dev/null; then
    # SIGTERM makes systemd-nspawn halt the container.
    kill -TERM "$nspawn_pid"
    for _ in $(seq 100); do kill -0 "$nspawn_pid" 2>/dev/null || break; sleep 0.1; done
  fi
  local cg pid
  # Whatever is left in the container's cgroups, the container itself included.
  for cg in "${cgroups[@]}"; do
    find "$cg" -name cgroup.procs -exec cat {} + 2>/dev/null | while read -r pid; do kill -KILL "$pid"; done
  done
  [ -n "$nspawn_pid" ] && wait "$nspawn_pid" 2>/dev/null
  for cg in "${cgroups[@]}"; do
    for _ in $(seq 50); do
      find "$cg" -depth -type d -exec rmdir {} + 2>/dev/null
      [ -d "$cg" ] || break
      sleep 0.1
    done
    [ -d "$cg" ] && echo "systemd test: warning: cgroup $cg not removed" >&2
  done
  if [ -n "$scratch" ]; then
    mountpoint -q "$scratch" && { umount "$scratch" || umount -l "$scratch"; }
    rmdir "$scratch"
  fi
  rm -rf "/run/systemd/nspawn/propagate/$machine" 2>/dev/null
  if [ "$created_run_systemd" = 1 ]; then
    rmdir /run/systemd/nspawn/propagate /run/systemd/nspawn/locks /run/systemd/nspawn /run/systemd 2>/dev/null
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- the package -------------------------------------------------------------------------

if [ ! -f "$deb" ]; then
  step "No $deb: building the package"
  build=$(mktemp -d /tmp/somnara-systemd-build.XXXXXX)
  mkdir -p "$build/somnara" "$top/build/package-test"
  tar -C "$top" --exclude=./build --exclude='./build-*' --exclude=./.git -c . | tar -x -C "$build/somnara"
  if ! (cd "$build/somnara" && DEB_BUILD_OPTIONS="nocheck noddebs parallel=$(nproc)" \
          dpkg-buildpackage -us -uc -b >"$build/build.log" 2>&1); then
    tail -n 60 "$build/build.log" >&2
    rm -rf "$build"
    fail "dpkg-buildpackage"
  fi
  cp "$build"/somnara_"$version"_* "$top/build/package-test/"
  rm -rf "$build"
fi
depends=$(dpkg-deb -f "$deb" Depends)
[ -n "$depends" ] || fail "no Depends in $deb"

# --- the container's root ----------------------------------------------------------------

# What the container needs besides the package's own dependencies: systemd
# booted with D-Bus, logind with PAM sessions and polkit, and the checks.
base_packages=(systemd systemd-sysv dbus dbus-bin dbus-user-session libpam-systemd polkitd passwd
               procps python3 python3-dbus)
sources=()
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  [ -s "$f" ] && sources+=("$f")
done
[ "${#sources[@]}" -ge 1 ] || fail "no apt sources on this machine"
key=$( { echo "mmdebstrap bookworm variant=apt 1"; printf '%s\n' "${base_packages[@]}"; echo "$depends"
         cat "${sources[@]}"; } | sha256sum | cut -c1-16)
root=$cache/$key
if [ -f "$root.complete" ]; then
  step "Container root $root (cached)"
else
  step "Container root: mmdebstrap bookworm into $root"
  mkdir -p "$cache"
  # Roots of other package lists, and an interrupted build of this one.
  find "$cache" -mindepth 1 -maxdepth 1 -exec rm -rf --one-file-system {} +
  include=$(IFS=,; echo "${base_packages[*]}")
  if ! mmdebstrap --variant=apt --include="$include" \
         --customize-hook="chroot \"\$1\" apt-get -y -qq -o Dpkg::Use-Pty=0 --no-install-recommends satisfy '$depends'" \
         bookworm "$root" "${sources[@]}" >"$cache/mmdebstrap.log" 2>&1; then
    tail -n 40 "$cache/mmdebstrap.log" >&2
    rm -rf --one-file-system "$root"
    fail "mmdebstrap (log: $cache/mmdebstrap.log)"
  fi
  touch "$root.complete"
fi

# --- scratch: the fake sysfs parts and what the container reads ----------------------------

step "Scratch trees"
scratch=$(mktemp -d /tmp/somnara-systemd.XXXXXX)
mount -t tmpfs -o size=64m,mode=755 somnara-systemd-test "$scratch"
mkdir -p "$scratch/power" "$scratch/power_supply/BAT0" "$scratch/power_supply/AC" "$scratch/sleep" "$scratch/share"
# What the kernel offers: freeze and suspend to RAM, and hibernation (which
# the container cannot do: it has no swap).
printf 'freeze mem disk\n' >"$scratch/power/state"
printf '[platform] shutdown reboot suspend\n' >"$scratch/power/disk"
printf 's2idle [deep]\n' >"$scratch/power/mem_sleep"
printf '0:0\n' >"$scratch/power/resume"
printf '0\n' >"$scratch/power/resume_offset"
cp -a "$scratch/power/." "$scratch/sleep/"
# A laptop on battery: BAT0 discharging at 80 %, three minutes per percent;
# the charger unplugged. The checks change the charge.
bat=$scratch/power_supply/BAT0
printf 'Battery\n' >"$bat/type"
printf '1\n' >"$bat/present"
printf 'Discharging\n' >"$bat/status"
printf '80\n' >"$bat/capacity"
printf '50000000\n' >"$bat/energy_full"
printf '40000000\n' >"$bat/energy_now"
printf '10000000\n' >"$bat/power_now"
printf 'Mains\n' >"$scratch/power_supply/AC/type"
printf '0\n' >"$scratch/power_supply/AC/online"
cp "$deb" "$scratch/share/somnara.deb"
cp "$top"/tests/system/systemd/{booted_system_test.py,session.sh,sleep-hook} "$scratch/share/"
chmod -R a+rX "$scratch/share"

# --- boot -----------------------------------------------------------------------------------

# A cgroup of its own in each hierarchy systemd-nspawn uses: cgroup2 and
# the v1 name=systemd one, below this shell's own.
cgroup_of() {  # cgroup_of <controller field of /proc/self/cgroup>
  awk -F: -v c="$1" '$2 == c { sub(/^[^:]*:[^:]*:/, ""); print; exit }' /proc/self/cgroup
}
while read -r mountpoint fstype options; do
  case "$fstype" in
    cgroup2) own=$(cgroup_of "") ;;
    cgroup) [[ ",$options," == *,name=systemd,* ]] || continue; own=$(cgroup_of name=systemd) ;;
    *) continue ;;
  esac
  cg="$mountpoint${own%/}/$machine"
  mkdir "$cg"
  cgroups+=("$cg")
done < <(awk '{ for (i = 7; $i != "-"; i++); print $5, $(i + 1), $(i + 3) }' /proc/self/mountinfo)
[ "${#cgroups[@]}" -ge 1 ] || fail "no cgroup hierarchy for the container"

step "Booting $machine"
# --volatile=overlay: the root stays untouched; writes go to a tmpfs.
setsid bash -c 'n=$1; shift; for ((i = 0; i < n; i++)); do echo $$ >"$1/cgroup.procs"; shift; done; exec "$@"' \
  _ "${#cgroups[@]}" "${cgroups[@]}" \
  systemd-nspawn --quiet --boot --directory="$root" --volatile=overlay --register=no --keep-unit \
    --machine="$machine" --console=read-only --link-journal=no --resolv-conf=off --timezone=off \
    --bind="$scratch/power:/sys/power" --bind="$scratch/power_supply:/sys/class/power_supply" \
    --bind="$scratch/sleep:$sleep_scratch" --bind-ro="$scratch/share:$share" \
    </dev/null >"$scratch/console.log" 2>&1 &
nspawn_pid=$!

for _ in $(seq 200); do
  container_pid=$(pgrep -P "$nspawn_pid" -x systemd || true)
  [ -n "$container_pid" ] && break
  kill -0 "$nspawn_pid" 2>/dev/null || break
  sleep 0.1
done
[ -n "$container_pid" ] || { cat "$scratch/console.log" >&2; fail "the container's systemd did not start"; }

# Runs a command in the container as root, with a clean environment.
in_container() {
  timeout 120 nsenter --target "$container_pid" --all \
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 TERM=dumb "$@"
}

# Up to a minute for the boot to finish (the bus may not answer at first).
state=
for _ in $(seq 300); do
  state=$(in_container systemctl is-system-running 2>/dev/null || true)
  case "$state" in running | degraded | maintenance | stopping) break ;; esac
  sleep 0.2
done
echo "system state: $state after $SECONDS s"
case "$state" in
  running) ;;
  degraded) in_container systemctl --failed --no-legend --no-pager ;;
  *) tail -n 40 "$scratch/console.log" >&2; fail "the container did not boot (state '$state')" ;;
esac

step "Sleep services write into scratch copies; the package; user $user"
# systemd-sleep writes its sleep state into /sys/power: for the sleep
# services the scratch copies stand there instead.
for unit in systemd-suspend systemd-hibernate systemd-hybrid-sleep systemd-suspend-then-hibernate; do
  in_container mkdir -p "/usr/lib/systemd/system/$unit.service.d"
  in_container sh -c "printf '[Service]\nBindPaths=$sleep_scratch:/sys/power\n' \
    >/usr/lib/systemd/system/$unit.service.d/05-somnara-test-sleep-scratch.conf"
done
in_container install -m 755 "$share/sleep-hook" /usr/lib/systemd/system-sleep/somnara-test
in_container systemctl daemon-reload
in_container dpkg -i "$share/somnara.deb" >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log" >&2; fail "dpkg -i"; }
echo "ok  package installed in the container"
in_container useradd --create-home --shell /bin/bash "$user"

step "Checks"
# In the background, so that a signal to this script ends it at once.
: >"$scratch/checks.log"
timeout $((checks_timeout + 30)) nsenter --target "$container_pid" --all \
  env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 TERM=dumb \
  systemd-run --quiet --wait --pipe --collect --unit=somnara-checks \
    -p RuntimeMaxSec="$checks_timeout" -p StandardInput=null \
    /usr/bin/python3 "$share/booted_system_test.py" --user "$user" --sleep-scratch "$sleep_scratch" \
  >"$scratch/checks.log" 2>&1 &
checks=$!
tail -n +1 -f --pid="$checks" "$scratch/checks.log" &
shown=$!
wait "$checks" || true
wait "$shown" || true
# The checks' own verdict: a unit stopped by a signal may count as a success.
status=1
if summary=$(tail -n 1 "$scratch/checks.log") && [[ "$summary" =~ ^([0-9]+)\ passed,\ 0\ failed$ ]] &&
   [ "${BASH_REMATCH[1]}" -gt 0 ]; then
  status=0
fi

# The cached root is never changed.
if grep -qx 'Package: somnara' "$root/var/lib/dpkg/status"; then
  echo "FAIL the cached root was changed" >&2
  status=1
fi
step "Systemd test $([ "$status" = 0 ] && echo passed || echo "FAILED (status $status)")"
exit "$status"
