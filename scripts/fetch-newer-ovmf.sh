#!/usr/bin/env bash
# Fetches Debian 13's OVMF package (edk2 2025.02) and unpacks it into a folder
# of this project's own, for the runs on today's firmware. Nothing is
# installed: the package is downloaded with a private apt configuration (its
# own sources list, package lists and cache) and unpacked with dpkg-deb.
# When the folder is already there nothing is downloaded.
#
#   scripts/fetch-newer-ovmf.sh [DIR]     (default: build/debian-firmware)
#
# Leaves DIR/ovmf-2025.02/usr/share/OVMF/*.fd, the package's own snakeoil key
# and certificate in DIR/ovmf-2025.02/usr/share/ovmf/, and the package's
# version in DIR/ovmf-2025.02/VERSION.
set -euo pipefail

case "${1:-}" in
  -h | --help)
    sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
    ;;
esac

suite=trixie
upstream=2025.02
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$top/build/debian-firmware}
dest=$dir/ovmf-$upstream

if [ -f "$dest/VERSION" ] && [ -f "$dest/usr/share/OVMF/OVMF_CODE_4M.secboot.strictnx.fd" ]; then
  exit 0
fi

# The same Debian archive this machine's own apt sources name (not the
# security archive), falling back to Debian's main mirror.
archive_uri() {
  local uri
  uri=$(grep -h -E '^URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null |
    awk '{print $2}' | grep -v -E 'security|updates' | grep -E '/debian/?$' | head -n 1 || true)
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri=$(grep -E '^deb ' /etc/apt/sources.list | sed -E 's/\[[^]]*\] //' |
      awk '{print $2}' | grep -v security | grep -E '/debian/?$' | head -n 1 || true)
  fi
  echo "${uri:-http://deb.debian.org/debian}"
}

work=$(mktemp -d "${TMPDIR:-/tmp}/newer-ovmf.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $(archive_uri) $suite main" >"$work/sources.list"
apt_private=(
  -o Dir::Etc::sourcelist="$work/sources.list" -o Dir::Etc::sourceparts=-
  -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache"
  -o APT::Sandbox::User="$(id -un)" -qq
)

echo "fetching Debian 13's OVMF ($upstream) into $dest"
if ! apt-get "${apt_private[@]}" update >"$work/apt.log" 2>&1; then
  echo "fetch-newer-ovmf: cannot read Debian's $suite package lists (apt-get update failed):" >&2
  tail -n 3 "$work/apt.log" >&2
  exit 1
fi
if ! (cd "$work" && apt-get "${apt_private[@]}" download ovmf >>"$work/apt.log" 2>&1); then
  echo "fetch-newer-ovmf: cannot download the ovmf package of $suite:" >&2
  tail -n 3 "$work/apt.log" >&2
  exit 1
fi

deb=$(ls "$work"/ovmf_*_all.deb)
version=$(dpkg-deb -f "$deb" Version)
case "$version" in
  "$upstream"-*) ;;
  *)
    echo "fetch-newer-ovmf: $suite's ovmf is version $version, not $upstream; the runs are set up for $upstream" >&2
    exit 1
    ;;
esac

# Unpacked beside the destination and renamed into place, so an interrupted
# fetch never leaves a half folder that looks complete.
mkdir -p "$dir"
staging=$(mktemp -d "$dir/.ovmf-$upstream.XXXXXX")
trap 'rm -rf "$work" "$staging"' EXIT
chmod 755 "$staging"
dpkg-deb -x "$deb" "$staging"
echo "$version" >"$staging/VERSION"
rm -rf "$dest"
mv "$staging" "$dest"
echo "fetched ovmf $version"
