#!/usr/bin/env bash
# A fake laptop under a machine root directory, for demos and tests.
#   fake-laptop.sh init ROOT [SAVED_MODE]  battery BAT0 at 100 %, charger AC,
#                                          sleep support, saved hibernate mode
#   fake-laptop.sh set ROOT PERCENT        battery at PERCENT %, discharging;
#                                          three minutes of running time per percent
#   fake-laptop.sh swap ROOT KIB           one swap area of KIB KiB (0: no swap), 1 GiB
#                                          of memory in use (a fresh laptop has 8 GiB)
#   fake-laptop.sh states ROOT "WORDS"     the sleep states the kernel offers
#                                          (a fresh laptop: "freeze mem disk")
set -euo pipefail

write() { mkdir -p "$(dirname "$1")"; printf '%s\n' "$2" > "$1.tmp"; mv "$1.tmp" "$1"; }

cmd=${1:?usage: fake-laptop.sh init|set ROOT ...}
root=${2:?machine root directory}
case "$cmd" in
  init)
    saved=${3:-0}
    bat="$root/sys/class/power_supply/BAT0"
    write "$bat/type" Battery
    write "$bat/power_now" 10000000           # µW
    write "$root/sys/class/power_supply/AC/type" Mains
    write "$root/sys/class/power_supply/AC/online" 0
    write "$root/sys/power/state" "freeze mem disk"
    write "$root/sys/power/disk" "[platform] shutdown reboot suspend"
    write "$root/sys/kernel/security/lockdown" "[none] integrity confidentiality"
    "$0" swap "$root" 8388608
    mkdir -p "$root/etc/somnara" "$root/run/somnara"
    cat > "$root/etc/somnara/PowerManagement.plist" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>Custom Profile</key>
	<dict>
		<key>AC Power</key>
		<dict>
			<key>Hibernate Mode</key>
			<integer>$saved</integer>
		</dict>
	</dict>
</dict>
</plist>
PLIST
    "$0" set "$root" 100
    ;;
  set)
    pct=${3:?percent}
    bat="$root/sys/class/power_supply/BAT0"
    write "$bat/capacity" "$pct"
    write "$bat/status" Discharging
    # energy_now / power_now hours = 3 minutes per percent
    write "$bat/energy_now" $((pct * 500000))
    ;;
  swap)
    kib=${3:?size in KiB}
    swaps="Filename				Type		Size		Used		Priority"
    if [ "$kib" != 0 ]; then swaps="$swaps"$'\n'"/dev/vda2                               partition	$kib		0		-2"; fi
    write "$root/proc/swaps" "$swaps"
    write "$root/proc/meminfo" $'MemTotal:       16384000 kB\nActive(anon):    1048576 kB'
    ;;
  states)
    write "$root/sys/power/state" "${3?states}"
    ;;
  *) echo "fake-laptop.sh: unknown command $cmd" >&2; exit 2 ;;
esac
