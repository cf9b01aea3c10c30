#!/usr/bin/env bash
# Sets the version of Somnara: writes VERSION (read by CMake) and adds the
# matching entry on top of debian/changelog, which the package build checks
# against VERSION.
#   scripts/set-version.sh 0.2.0 ["what changed"]
set -euo pipefail
cd "$(dirname "$0")/.."
version=${1:?usage: scripts/set-version.sh <version> [change note]}
note=${2:-New upstream version $version.}
if ! [[ $version =~ ^[0-9]+(\.[0-9]+){1,3}$ ]]; then
  echo "set-version.sh: '$version' is not numbers separated by dots (1.2.3)" >&2
  exit 2
fi
maintainer=$(sed -n 's/^Maintainer: //p' debian/control)
{
  printf 'somnara (%s) unstable; urgency=medium\n\n  * %s\n\n -- %s  %s\n\n' \
    "$version" "$note" "$maintainer" "$(date -R -u)"
  cat debian/changelog
} > debian/changelog.new
mv debian/changelog.new debian/changelog
echo "$version" > VERSION
