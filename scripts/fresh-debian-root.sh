#!/usr/bin/env bash
# Runs the README's commands as a newcomer would, in a fresh Debian root made with debootstrap
# from Debian's archive: minbase, then `apt-get install git make`, then a clone of this
# checkout's HEAD and the commands, as root (or, with --user, as a user with sudo).
#
#   fresh-debian-root.sh [--user] SUITE COMMAND...     e.g.  fresh-debian-root.sh trixie run test
#
# COMMAND is a make target (run, test, deb, ...), run in that order; the first that fails ends
# the run with its status.  The last line printed says what passed.  Needs root (debootstrap,
# chroot, mounts) and the network to Debian's archive.
#
# Caches, outside the clone (Z47_ROOT_CACHE, default /var/tmp/z47-debian-roots): the bare
# minbase root as a tarball, and the packages apt downloads.  A missing cache only makes the
# run slower; the root itself is always new and removed at the end.
# The Windows parts (Z47_WINDOWS_SDK) are bound read-only into the root when they are named.
# The screenshots the commands took are copied to build/fresh-roots/SUITE of this checkout.
set -euo pipefail

as_user=0
if [ "${1:-}" = --user ]; then as_user=1; shift; fi
[ $# -ge 2 ] || { echo "usage: $0 [--user] SUITE COMMAND..." >&2; exit 2; }
suite=$1; shift
[ "$(id -u)" -eq 0 ] || { echo "z47: $0 needs root (debootstrap, chroot and mounts)" >&2; exit 1; }

mirror=${Z47_DEBIAN_MIRROR:-http://deb.debian.org/debian}
cache=${Z47_ROOT_CACHE:-/var/tmp/z47-debian-roots}
source_dir=$(git -C "$(dirname "$0")/.." rev-parse --show-toplevel)
mkdir -p "$cache/apt-$suite/partial"
work=$(mktemp -d "${TMPDIR:-/var/tmp}/z47-root-$suite-XXXXXX")
root=$work/root
mounted=()

cleanup() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount -R "${mounted[i]}" 2>/dev/null || umount -lR "${mounted[i]}" 2>/dev/null || true
  done
  # Nothing may be left mounted below the root before it is removed.
  if ! findmnt -R -n -o TARGET "$root" >/dev/null 2>&1; then rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

bind() {  # bind SOURCE TARGET [ro]
  mkdir -p "$2"
  mount --rbind "$1" "$2"
  mount --make-rslave "$2"
  mounted+=("$2")
  if [ "${3:-}" = ro ]; then mount -o remount,bind,ro "$2"; fi
}

# 1. The bare root: from the cached tarball when there is one, else debootstrap (then cached).
tarball=$cache/$suite-minbase.tar
mkdir -p "$root"
if [ -s "$tarball" ]; then
  tar -C "$root" -xf "$tarball"
else
  debootstrap --variant=minbase "$suite" "$root" "$mirror" >"$work/debootstrap.log" 2>&1 || {
    tail -n 20 "$work/debootstrap.log" >&2; exit 1; }
  tar -C "$root" -cf "$tarball.part" . && mv "$tarball.part" "$tarball"
fi

# 2. What a chroot needs: the kernel's file systems, the name server, and shared memory.
#    /run stays the root's own empty folder, as on a machine without a login session.
mkdir -p "$root/proc" "$root/sys" "$root/dev"
mount -t proc proc "$root/proc"; mounted+=("$root/proc")
bind /sys "$root/sys"
bind /dev "$root/dev"
mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"; mounted+=("$root/dev/shm")
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
bind "$cache/apt-$suite" "$root/var/cache/apt/archives"
bind "$source_dir" "$root/mnt/source" ro
sdk_env=()
if [ -n "${Z47_WINDOWS_SDK:-}" ]; then
  bind "$Z47_WINDOWS_SDK" "$root/mnt/windows-sdk" ro
  sdk_env=(Z47_WINDOWS_SDK=/mnt/windows-sdk)
fi

in_root() { chroot "$root" /usr/bin/env -i HOME=/root TERM="${TERM:-dumb}" \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }

# 3. The newcomer's first step, then the clone.
in_root sh -c 'apt-get update -q >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y -q git make >/dev/null'
home=/root
run_as=()
if [ "$as_user" -eq 1 ]; then
  in_root sh -c 'DEBIAN_FRONTEND=noninteractive apt-get install -y -q sudo >/dev/null &&
    useradd -m -s /bin/bash newcomer &&
    echo "newcomer ALL=(ALL) NOPASSWD: ALL" >/etc/sudoers.d/newcomer &&
    install -d -m 700 -o newcomer -g newcomer /run/user/$(id -u newcomer)'
  # (the last line is what a login does: the session'"'"'s runtime folder, which wine 10 needs)
  home=/home/newcomer
  run_as=(/usr/sbin/runuser -u newcomer --)
fi
# The source belongs to whoever runs this script, not to the newcomer: git must be told that
# it may read it (in the system's configuration: git does not take this one from the command
# line for the process that serves the clone).
in_root git config --system --add safe.directory /mnt/source/.git
in_root "${run_as[@]}" git clone -q /mnt/source "$home/z47"
in_root "${run_as[@]}" git -C "$home/z47" log -1 --format='z47: %h %s'

# 4. The README's commands, one after another.
release="Debian $(cut -d. -f1 "$root/etc/debian_version") ($suite)"
who=root; [ "$as_user" -eq 1 ] && who="a user with sudo"
passed=()
for target in "$@"; do
  start=$SECONDS
  if ! in_root "${run_as[@]}" env HOME="$home" "${sdk_env[@]}" ${Z47_TEST_SYSTEM_INSTALL:+Z47_TEST_SYSTEM_INSTALL=1} \
      make -C "$home/z47" "$target"; then
    echo "z47: $release as $who: make $target FAILED after $((SECONDS - start)) s${passed[*]:+; passed: ${passed[*]}}"
    exit 1
  fi
  passed+=("make $target ($((SECONDS - start)) s)")
done
# The pictures the commands took, to look at after the root is gone.
shots=$source_dir/build/fresh-roots/$suite
rm -rf "$shots" && mkdir -p "$shots"
for picture in centre.png screenshots; do
  if [ -e "$root$home/z47/build/$picture" ]; then cp -a "$root$home/z47/build/$picture" "$shots/"; fi
done
echo "z47: $release as $who: passed ${passed[*]}"
