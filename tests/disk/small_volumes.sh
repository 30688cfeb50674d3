#!/usr/bin/env bash
# small_volumes.sh WINE_RUN PREFIX DISK_TESTS MOUNT_DIR: mounts a 4 MiB tmpfs and a read-only
# tmpfs below MOUNT_DIR, maps them to two free drive letters of the Wine prefix, runs DISK_TESTS
# with the letters in TANDORA_FULL_DRIVE and TANDORA_READONLY_DRIVE, and undoes it all. Exits 77
# (skipped) only when the machine refuses the mount, and says so.
set -uo pipefail
wine_run=$1 prefix=$(realpath -m "$2") exe=$3 mounts=$(realpath -m "$4")
full=$mounts/full readonly=$mounts/readonly
links=()
cleanup() {
  rm -f "${links[@]}"
  for m in "$full" "$readonly"; do mountpoint -q "$m" && umount "$m"; done
}
trap cleanup EXIT
mkdir -p "$full" "$readonly"
for m in "$full" "$readonly"; do mountpoint -q "$m" && umount "$m"; done   # left by a killed run
if ! why=$(mount -t tmpfs -o size=4m,mode=1777 tandora-full "$full" 2>&1) ||
   ! why=$(mount -t tmpfs -o size=1m,ro tandora-readonly "$readonly" 2>&1); then
  echo "SKIPPED: this machine does not allow mounting the test file systems (as $(id -un)): $why"
  exit 77
fi
[ -d "$prefix/dosdevices" ] || "$wine_run" "$prefix" cmd /c exit 0 </dev/null >/dev/null 2>&1
letters=()
for l in m n o p q r s t u v w x y; do
  [ -e "$prefix/dosdevices/$l:" ] || [ -L "$prefix/dosdevices/$l:" ] || letters+=("$l")
done
[ ${#letters[@]} -ge 2 ] || { echo "FAIL: no free drive letters in $prefix"; exit 1; }
ln -s "$full" "$prefix/dosdevices/${letters[0]}:" && links+=("$prefix/dosdevices/${letters[0]}:")
ln -s "$readonly" "$prefix/dosdevices/${letters[1]}:" && links+=("$prefix/dosdevices/${letters[1]}:")
echo "full: ${letters[0]}: -> $full (4 MiB), read-only: ${letters[1]}: -> $readonly"
TANDORA_FULL_DRIVE="${letters[0]}:" TANDORA_READONLY_DRIVE="${letters[1]}:" \
  "$wine_run" "$prefix" "$exe" </dev/null 2>&1
