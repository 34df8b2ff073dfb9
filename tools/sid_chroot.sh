#!/usr/bin/env bash
# sid_chroot.sh [ARCH]
# Makes (or reuses) a chroot of Debian's newest suite (sid) for ARCH (amd64, the
# default, or arm64), with CPython 3.14 and 3.15 and their headers, GCC 16 and make,
# in a cache folder outside the repository: $BRINDLE_CACHE (default
# ${XDG_CACHE_HOME:-$HOME/.cache}/brindle_core), as sid-ARCH. Prints the chroot's path.
#
# Needs root, and debootstrap (installed from Debian's packages when missing, with
# qemu-user-static for arm64). The mirror is a snapshot whose Release file may read
# as expired, so apt inside the chroot is told not to mind. The chroot is made in a
# folder of its own and renamed into place only when complete: a half-made one is
# never used.
#
# Exits 3 (with the reason on standard error) where a chroot cannot be made here:
# not root, no apt-get, or no way to run ARCH's programs.
set -euo pipefail
arch=${1:-amd64}
cache=${BRINDLE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/brindle_core}
root="$cache/sid-$arch"
mirror=${BRINDLE_DEBIAN_MIRROR:-http://deb.debian.org/debian}

case "$arch" in
    amd64)
        # binutils for aarch64: its strip, for the aarch64 wheels built here.
        packages=python3.14-dev,python3.15-dev,python3.14-venv,python3.15-venv,g++,make,git,ca-certificates,libgtest-dev,cmake,binutils-aarch64-linux-gnu
        ;;
    arm64)
        # The -dev packages bring arm64's own pyconfig.h, which wheels are built against.
        packages=python3.13-dev,python3.14-dev,python3.15-dev,python3.13-venv,python3.14-venv,python3.15-venv,ca-certificates
        ;;
    *) echo "error: unknown architecture $arch (amd64 or arm64)" >&2; exit 2 ;;
esac

if [ -x "$root/usr/bin/python3.14" ] && [ -f "$root/.complete" ]; then
    # A chroot made with an older package list gets the packages added since.
    if [ "$(cat "$root/.packages" 2>/dev/null)" != "$packages" ] && [ "$(id -u)" -eq 0 ]; then
        echo "adding packages to the sid chroot for $arch" >&2
        cp /etc/resolv.conf "$root/etc/resolv.conf"
        if chroot "$root" /usr/bin/env -i PATH=/usr/bin:/bin:/usr/sbin:/sbin DEBIAN_FRONTEND=noninteractive \
                /bin/sh -c "apt-get update -q && apt-get install -y -q ${packages//,/ }" >&2; then
            echo "$packages" >"$root/.packages"
        else
            echo "warning: packages could not be added to the sid chroot" >&2
        fi
    fi
    echo "$root"
    exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "cannot make the sid chroot: not root" >&2
    exit 3
fi
if ! command -v apt-get >/dev/null; then
    echo "cannot make the sid chroot: no apt-get to install debootstrap" >&2
    exit 3
fi
need=()
command -v debootstrap >/dev/null || need+=(debootstrap)
if [ "$arch" = arm64 ] && [ "$(uname -m)" != aarch64 ]; then
    command -v qemu-aarch64-static >/dev/null || need+=(qemu-user-static binfmt-support)
fi
if [ ${#need[@]} -gt 0 ]; then
    echo "installing ${need[*]}" >&2
    { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${need[@]}"; } >&2 \
        || { echo "cannot make the sid chroot: installing ${need[*]} failed" >&2; exit 3; }
fi
if [ "$arch" = arm64 ] && [ "$(uname -m)" != aarch64 ]; then
    # Foreign programs run through binfmt_misc, which may need mounting first.
    if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || true
    fi
    update-binfmts --enable qemu-aarch64 >/dev/null 2>&1 || true
    if [ ! -e /proc/sys/fs/binfmt_misc/qemu-aarch64 ]; then
        echo "cannot make the arm64 chroot: arm64 programs cannot run here (binfmt_misc)" >&2
        exit 3
    fi
fi

# Nothing may stay mounted in a chroot that is removed (in_sid.sh mounts /proc).
for old in "$root" "$root.building"; do
    findmnt -rn -o TARGET | { grep -F "$old/" || true; } | sort -r | while read -r target; do
        umount "$target" || umount -l "$target"
    done
done
mkdir -p "$cache"
building="$root.building"
rm -rf "$building"
echo "making the sid chroot for $arch in $root (a few minutes)" >&2
if ! debootstrap --arch="$arch" --variant=minbase --include="$packages" sid "$building" "$mirror" >&2; then
    tail -n 5 "$building/debootstrap/debootstrap.log" >&2 2>/dev/null || true
    echo "cannot make the sid chroot: debootstrap failed (Debian's package servers unreachable?)" >&2
    exit 3
fi
# What pip inside the chroot needs to reach the package index.
cp /etc/resolv.conf "$building/etc/resolv.conf"
echo 'Acquire::Check-Valid-Until "false";' >"$building/etc/apt/apt.conf.d/99snapshot"
echo "$packages" >"$building/.packages"
touch "$building/.complete"
rm -rf "$root"
mv "$building" "$root"
echo "$root"
