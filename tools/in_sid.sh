#!/usr/bin/env bash
# in_sid.sh ARCH COMMAND
# Runs COMMAND (a bash command line) inside the Debian sid chroot for ARCH (amd64 or
# arm64; made by tools/sid_chroot.sh when missing), in a copy of this working tree
# at /work/brindle_core: the files git tracks and the untracked ones it does not
# ignore, as they are now. The copy keeps its .venv/, build/ and dist/ between runs,
# so that builds there only compile what changed.
#
# The chroot gets the host's resolver and CA bundle (pip reaches the package index
# as the host does), /proc while COMMAND runs, and a clean environment.
#
# Exits 3, with the reason on standard error, where no chroot can be had here.
set -euo pipefail
arch=$1
shift
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
root=$(tools/sid_chroot.sh "$arch")
src="$root/work/brindle_core"
mkdir -p "$src"
# One run at a time per chroot: each replaces the copy of the tree and mounts /proc.
exec 9>"$root.lock"
flock 9

# The working tree, afresh: what was deleted here goes there too.
find "$src" -mindepth 1 -maxdepth 1 ! -name .venv ! -name build ! -name dist -exec rm -rf {} +
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z -c -o --exclude-standard | tar --null -T - -cf - | tar -xf - -C "$src"
else
    tar --exclude=./.venv --exclude=./build --exclude=./dist -cf - . | tar -xf - -C "$src"
fi

cp /etc/resolv.conf "$root/etc/resolv.conf"
if [ -f /etc/ssl/certs/ca-certificates.crt ]; then
    cp /etc/ssl/certs/ca-certificates.crt "$root/etc/ssl/certs/ca-certificates.crt"
fi

mounted=0
if ! mountpoint -q "$root/proc"; then
    mount -t proc proc "$root/proc"
    mounted=1
fi
cleanup() { if [ $mounted = 1 ]; then umount "$root/proc" || umount -l "$root/proc"; fi; }
trap cleanup EXIT

status=0
chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
    PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin \
    PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_DEFAULT_TIMEOUT=180 \
    SSL_CERT_FILE=/etc/ssl/certs/ca-certificates.crt PIP_CERT=/etc/ssl/certs/ca-certificates.crt \
    BRINDLE_IN_SID="$arch" \
    /bin/bash -c "cd /work/brindle_core && $*" || status=$?
exit $status
