# Sourced by scripts/check-fresh and scripts/check-package: a fresh Debian 12 (minbase) root
# built with debootstrap, the mounts a program needs in it, and their removal.
#
#   root_build DIR          debootstrap into DIR (removed first; refused while anything is
#                           mounted below it), with bookworm, -updates and -security sources
#                           and the host's resolv.conf
#   root_mount DIR          /proc, /sys, /dev (with /dev/pts, /dev/shm), /run, apt's cache
#   root_bind DIR HOST PATH [ro]   bind-mount HOST at DIR/PATH
#   root_run DIR CMD...     run CMD in the root in a clean environment (bash -c)
#   root_cleanup DIR        end what still runs in the root, unmount everything below it
#   root_add_shooter DIR    /usr/local/bin/shoot in the root (below; needs xdotool and
#                           ImageMagick there)
#
# Downloaded packages are kept in $root_cache (debootstrap's and apt's), so a second run
# fetches only what changed.

root_cache=${LUMORA_ROOT_CACHE:-/var/cache/lumora-debian-root}
root_mirror=${LUMORA_DEBIAN_MIRROR:-http://deb.debian.org/debian}
root_security=${LUMORA_DEBIAN_SECURITY:-http://deb.debian.org/debian-security}

root_say() { echo "== $*"; }

root_need_debootstrap() {
  [ -x /usr/sbin/debootstrap ] && return 0
  root_say "installing debootstrap"
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 update -qq
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
    --no-install-recommends debootstrap >/dev/null
}

root_mounts_below() {
  # Mount points at or below $1, deepest first.
  findmnt -rn -o TARGET | awk -v r="$1" 'index($0, r "/") == 1 || $0 == r' | sort -r
}

root_build() {
  local dir=$1
  if [ -n "$(root_mounts_below "$dir")" ]; then
    echo "root: something is still mounted below $dir; run root_cleanup first" >&2
    return 1
  fi
  rm -rf --one-file-system "$dir"
  mkdir -p "$dir" "$root_cache/debootstrap" "$root_cache/apt"
  root_need_debootstrap
  /usr/sbin/debootstrap --variant=minbase --cache-dir="$root_cache/debootstrap" \
    bookworm "$dir" "$root_mirror" >"$dir.debootstrap.log" 2>&1 || {
      tail -20 "$dir.debootstrap.log" >&2; return 1; }
  cat >"$dir/etc/apt/sources.list" <<EOF
deb $root_mirror bookworm main
deb $root_mirror bookworm-updates main
deb $root_security bookworm-security main
EOF
  cp /etc/resolv.conf "$dir/etc/resolv.conf"
  # Packages installed in the root must not start their services on the host.
  printf '#!/bin/sh\nexit 101\n' >"$dir/usr/sbin/policy-rc.d"
  chmod +x "$dir/usr/sbin/policy-rc.d"
}

root_bind() {
  local dir=$1 host=$2 path=$3 mode=${4:-rw}
  mkdir -p "$dir$path"
  mount --bind "$host" "$dir$path"
  [ "$mode" = ro ] && mount -o remount,bind,ro "$dir$path"
  return 0
}

root_mount() {
  local dir=$1
  mount -t proc proc "$dir/proc"
  mount -t sysfs sysfs "$dir/sys"
  # The host's /dev with /dev/pts and /dev/shm; slave, so unmounting ours leaves the host's.
  mount --rbind /dev "$dir/dev"
  mount --make-rslave "$dir/dev"
  mount -t tmpfs -o mode=755 run "$dir/run"
  root_bind "$dir" "$root_cache/apt" /var/cache/apt/archives
}

root_run() {
  local dir=$1; shift
  env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
      PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      DEBIAN_FRONTEND=noninteractive ${root_env[@]+"${root_env[@]}"} \
      chroot "$dir" /bin/bash -c "$*"
}

root_cleanup() {
  local dir=$1 pid link
  [ -d "$dir" ] || return 0
  # Processes left in the root (an Xvfb after a failure, say) hold its mounts.
  for pid in /proc/[0-9]*; do
    link=$(readlink "$pid/root" 2>/dev/null) || continue
    [ "$link" = "$dir" ] && kill "${pid#/proc/}" 2>/dev/null
  done
  sleep 1
  local m
  for m in $(root_mounts_below "$dir"); do
    [ "$m" = "$dir" ] && continue
    umount "$m" 2>/dev/null || umount -l "$m"
  done
}

# shoot PNG LOG CMD...: under an X server (xvfb-run), starts CMD with its output in LOG,
# waits for its first window, gives it SHOOT_WAIT seconds (default 15) to show live video,
# saves the screen as PNG and ends CMD. Fails if no window comes within SHOOT_TIMEOUT
# seconds (default 900: the command may build first) or CMD ended by itself.
root_add_shooter() {
  cat >"$1/usr/local/bin/shoot" <<'EOF'
#!/bin/bash
png=$1 log=$2; shift 2
start=$(date +%s)
"$@" >"$log" 2>&1 &
pid=$!
if ! timeout "${SHOOT_TIMEOUT:-900}" xdotool search --sync --onlyvisible --pid "$pid" >/dev/null 2>&1; then
  echo "shoot: no window from $*"; tail -20 "$log"; kill "$pid" 2>/dev/null; exit 1
fi
echo "== window after $(( $(date +%s) - start ))s"
sleep "${SHOOT_WAIT:-15}"
import -window root "$png"
kill -0 "$pid" 2>/dev/null || { echo "shoot: $* ended early"; tail -20 "$log"; exit 1; }
kill "$pid"; wait "$pid" 2>/dev/null
exit 0
EOF
  chmod +x "$1/usr/local/bin/shoot"
}
