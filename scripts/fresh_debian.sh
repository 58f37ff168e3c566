#!/usr/bin/env bash
# Runs the README's two quick-start commands as a new user would: on a minimal Debian 12 root
# (debootstrap's minbase variant with only git added), in a clean clone of HEAD, as root.
# The root is made once and kept as a tarball under FRESH_DEBIAN_CACHE; every run unpacks a
# fresh copy of it, so nothing one run installs is there for the next. Needs root, debootstrap
# and the Debian mirror; prints each command's result and time, and exits non-zero when one fails.
#   scripts/fresh_debian.sh            both commands
#   scripts/fresh_debian.sh demo       only the first
set -euo pipefail
cd "$(dirname "$0")/.."

cache=${FRESH_DEBIAN_CACHE:-/var/cache/aessuite-fresh-debian}
mirror=${FRESH_DEBIAN_MIRROR:-http://deb.debian.org/debian}
commands=("$@")
((${#commands[@]})) || commands=(demo test)

if [ "$(id -u)" -ne 0 ]; then
  echo "fresh_debian: needs root (debootstrap, chroot and mounts)" >&2
  exit 2
fi
command -v debootstrap >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap

base=$cache/bookworm-minbase-git.tar
if [ ! -f "$base" ]; then
  mkdir -p "$cache"
  staging=$(mktemp -d "$cache/staging.XXXXXX")
  echo "Making the minimal Debian 12 root (once)..."
  debootstrap --variant=minbase --include=git bookworm "$staging" "$mirror" >"$cache/debootstrap.log"
  tar -C "$staging" -cf "$base.part" . && mv "$base.part" "$base"
  rm -rf "$staging"
fi

work=$(mktemp -d /var/tmp/fresh-debian.XXXXXX)
root=$work/root
mounted=()
cleanup() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount -l "${mounted[i]}" 2>/dev/null || true
  done
  rm -rf --one-file-system "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir "$root"
tar -C "$root" -xf "$base"
chmod 755 "$root"  # the staging folder's 0700 came along in the tarball; a real / is 755
cp /etc/resolv.conf "$root/etc/resolv.conf"
git clone --quiet --no-hardlinks "file://$PWD" "$root/src"
git -C "$root/src" log -1 --format='Checked out %h %s'

bind() {  # source, target inside the root
  mount --bind "$1" "$root$2"
  mounted+=("$root$2")
}
mount -t proc proc "$root/proc" && mounted+=("$root/proc")
mount -t sysfs sys "$root/sys" && mounted+=("$root/sys")
bind /dev /dev
bind /dev/pts /dev/pts
mount -t tmpfs -o mode=1777 tmpfs "$root/tmp" && mounted+=("$root/tmp")
mount -t tmpfs tmpfs "$root/dev/shm" && mounted+=("$root/dev/shm")

failed=0
for command in "${commands[@]}"; do
  start=$(date +%s)
  rc=0
  chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin TERM=dumb \
    /bin/bash -c "cd /src && ./build.sh $command" >"$work/$command.log" 2>&1 || rc=$?
  seconds=$(($(date +%s) - start))
  if ((rc == 0)); then
    printf './build.sh %s: passed in %dm%02ds\n' "$command" $((seconds / 60)) $((seconds % 60))
  else
    printf './build.sh %s: FAILED (exit %d) after %dm%02ds; the end of its output:\n' \
      "$command" "$rc" $((seconds / 60)) $((seconds % 60))
    tail -n 40 "$work/$command.log" | sed 's/^/  /'
    failed=1
  fi
  cp "$work/$command.log" "$cache/last-$command.log"
done
echo "Full logs: $cache/last-*.log"
exit "$failed"
