#!/usr/bin/env bash
# small_volumes.sh WINE_RUN PREFIX DISK_TESTS MOUNT_DIR: mounts a 4 MiB tmpfs, a read-only tmpfs
# and a writable one whose root takes no new entry (immutable) above a writable folder "open",
# below MOUNT_DIR; maps them to three free drive letters of the Wine prefix, runs DISK_TESTS with
# the letters in TANDORA_FULL_DRIVE, TANDORA_READONLY_DRIVE and TANDORA_RESTRICTED_DRIVE, and
# undoes it all. Exits 77 (skipped) only when the machine refuses the mounts, and says so.
set -uo pipefail
wine_run=$1 prefix=$(realpath -m "$2") exe=$3 mounts=$(realpath -m "$4")
full=$mounts/full readonly=$mounts/readonly restricted=$mounts/restricted
links=()
unmount() {
  for m in "$full" "$readonly" "$restricted"; do
    mountpoint -q "$m" || continue
    chattr -i "$m" 2>/dev/null || true
    umount "$m"
  done
}
cleanup() {
  rm -f "${links[@]}"
  unmount
}
trap cleanup EXIT
mkdir -p "$full" "$readonly" "$restricted"
unmount   # left by a killed run
if ! why=$(mount -t tmpfs -o size=4m,mode=1777 tandora-full "$full" 2>&1) ||
   ! why=$(mount -t tmpfs -o size=1m,ro tandora-readonly "$readonly" 2>&1) ||
   ! why=$(mount -t tmpfs -o size=16m tandora-restricted "$restricted" 2>&1 && mkdir "$restricted/open" &&
           chattr +i "$restricted" 2>&1); then
  echo "SKIPPED: this machine does not allow mounting the test file systems (as $(id -un)): $why"
  exit 77
fi
[ -d "$prefix/dosdevices" ] || "$wine_run" "$prefix" cmd /c exit 0 </dev/null >/dev/null 2>&1
letters=()
for l in m n o p q r s t u v w x y; do
  [ -e "$prefix/dosdevices/$l:" ] || [ -L "$prefix/dosdevices/$l:" ] || letters+=("$l")
done
[ ${#letters[@]} -ge 3 ] || { echo "FAIL: no free drive letters in $prefix"; exit 1; }
ln -s "$full" "$prefix/dosdevices/${letters[0]}:" && links+=("$prefix/dosdevices/${letters[0]}:")
ln -s "$readonly" "$prefix/dosdevices/${letters[1]}:" && links+=("$prefix/dosdevices/${letters[1]}:")
ln -s "$restricted" "$prefix/dosdevices/${letters[2]}:" && links+=("$prefix/dosdevices/${letters[2]}:")
echo "full: ${letters[0]}: -> $full (4 MiB), read-only: ${letters[1]}: -> $readonly," \
     "restricted root: ${letters[2]}: -> $restricted"
TANDORA_FULL_DRIVE="${letters[0]}:" TANDORA_READONLY_DRIVE="${letters[1]}:" TANDORA_RESTRICTED_DRIVE="${letters[2]}:" \
  "$wine_run" "$prefix" "$exe" </dev/null 2>&1
