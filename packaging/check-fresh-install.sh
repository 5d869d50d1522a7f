#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks the Debian package on a freshly bootstrapped Debian 12 system: installs it with apt-get,
# lists what apt pulled in, runs the programs, shows a manual page, and opens a generated tape in
# the window through the menu entry's Exec line under Xvfb, saving a screenshot. With --demo it
# instead copies the committed sources (git archive HEAD) into the fresh system and runs the
# README's first command there. Run by hand as root on Debian with debootstrap; not part of CI.
#
#   bash packaging/check-fresh-install.sh [--keep] build/vantrel_2.0_amd64.deb OUT-DIR
#   bash packaging/check-fresh-install.sh [--keep] --demo SOURCE-DIR OUT-DIR
#
# The system is made under /var/tmp (about 1 GB; 4 GB with --demo) and removed at the end unless
# --keep. MIRROR and SECURITY_MIRROR choose the Debian mirrors (default: the ones apt uses here).
set -euo pipefail

keep=0
demo=0
while [ $# -gt 0 ]; do
  case "$1" in
    --keep) keep=1; shift ;;
    --demo) demo=1; shift ;;
    *) break ;;
  esac
done
[ $# -eq 2 ] || { sed -n '9,10p' "$0" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "check-fresh-install: run it as root (debootstrap, chroot)" >&2; exit 2; }
command -v debootstrap > /dev/null || { echo "check-fresh-install: apt-get install debootstrap" >&2; exit 2; }
input=$(realpath "$1")
mkdir -p "$2"
out=$(realpath "$2")

# The first mirror apt uses here whose path ends in $1, else $2.
host_mirror() {
  local found
  found=$({ grep -hs '^URIs:' /etc/apt/sources.list.d/*.sources | awk '{ for (i = 2; i <= NF; i++) print $i }'
    grep -hs '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list |
      awk '{ for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; break } }'
  } | grep -E "$1/?\$" | head -1) || true
  echo "${found:-$2}"
}
mirror=${MIRROR:-$(host_mirror /debian http://deb.debian.org/debian)}
security=${SECURITY_MIRROR:-$(host_mirror /debian-security http://deb.debian.org/debian-security)}

root=$(mktemp -d /var/tmp/vantrel-chroot-XXXXXX)
mounts=()
cleanup() {
  # Processes still running in the system (an X server on its way out) hold its /dev.
  local pid
  for pid in /proc/[0-9]*; do
    [ "$(readlink "$pid/root" 2> /dev/null)" != "$root" ] || kill "${pid#/proc/}" 2> /dev/null || true
  done
  for pid in /proc/[0-9]*; do
    for _ in $(seq 50); do
      [ "$(readlink "$pid/root" 2> /dev/null)" = "$root" ] || break
      sleep 0.1
    done
    [ "$(readlink "$pid/root" 2> /dev/null)" != "$root" ] || kill -KILL "${pid#/proc/}" 2> /dev/null || true
  done
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount "${mounts[i]}" || true; done
  if [ "$keep" -eq 1 ]; then
    echo "check-fresh-install: the system is kept in $root"
  elif ! grep -q " $root/" /proc/mounts; then
    rm -rf --one-file-system "$root"
  else
    echo "check-fresh-install: $root still has mounts; not removed" >&2
  fi
}
trap cleanup EXIT
step() { echo "== $*"; }
in_root() {
  chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}
# shellcheck disable=SC2016  # dpkg-query fills in ${Package}
installed() { in_root dpkg-query -W -f='${Package}\n' | sort; }

step "debootstrap bookworm (with man-db, as a user reading manual pages has it) from $mirror into $root (log: $out/debootstrap.log)"
debootstrap --include=man-db bookworm "$root" "$mirror" > "$out/debootstrap.log" 2>&1 ||
  { tail -20 "$out/debootstrap.log"; exit 1; }
cat > "$root/etc/apt/sources.list" << EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb $security bookworm-security main
EOF
for fs in proc sys dev; do
  mount --bind "/$fs" "$root/$fs"
  mounts+=("$root/$fs")
done
in_root apt-get update -qq
installed > "$out/packages-fresh.txt"
echo "$(wc -l < "$out/packages-fresh.txt") packages in the fresh system"

if [ "$demo" -eq 1 ]; then
  step "the committed sources of $input, then bash scripts/demo.sh (log: $out/demo.log)"
  mkdir "$root/root/vantrel"
  git -C "$input" archive HEAD | tar -x -C "$root/root/vantrel"
  start=$(date +%s)
  in_root sh -c 'cd /root/vantrel && bash scripts/demo.sh' > "$out/demo.log" 2>&1 ||
    { tail -30 "$out/demo.log"; exit 1; }
  echo "demo.sh ended after $(($(date +%s) - start)) s"
  tail -15 "$out/demo.log"
  cp "$root/root/vantrel/demo/player-screenshot.png" "$out/"
  echo "screenshot: $out/player-screenshot.png"
  exit 0
fi

step "apt-get install ./$(basename "$input") (log: $out/apt-install.log)"
cp "$input" "$root/tmp/"
in_root apt-get install -y "./tmp/$(basename "$input")" > "$out/apt-install.log" 2>&1 ||
  { tail -30 "$out/apt-install.log"; exit 1; }
installed > "$out/packages-with-vantrel.txt"
comm -13 "$out/packages-fresh.txt" "$out/packages-with-vantrel.txt" > "$out/pulled-in.txt"
echo "apt installed $(wc -l < "$out/pulled-in.txt") packages: $out/pulled-in.txt"

step "the programs"
programs=$(in_root dpkg -L vantrel | grep '^/usr/bin/')
for program in $programs; do
  if in_root ldd "$program" | grep 'not found'; then
    echo "$program: a library is missing" >&2
    exit 1
  fi
  in_root "$program" --version
done
in_root vantrel-dvgen --frames 50 --start 2004-07-14T18:03:09 --jump 25:+3600 -o /tmp/tape.avi
in_root vantrel-probe /tmp/tape.avi | sed -n '1p;26p'
in_root man -P cat vantrel-probe > "$out/man-vantrel-probe.txt" 2> "$out/man-vantrel-probe.err"
[ ! -s "$out/man-vantrel-probe.err" ] || { cat "$out/man-vantrel-probe.err"; exit 1; }
head -4 "$out/man-vantrel-probe.txt"

step "the menu entry's Exec line under Xvfb (the X tools come after the package's own list)"
in_root apt-get install -y -qq xvfb xauth x11-utils x11-apps > "$out/apt-install-x.log" 2>&1 ||
  { tail -30 "$out/apt-install-x.log"; exit 1; }
entry=$(in_root dpkg -L vantrel | grep '^/usr/share/applications/.*\.desktop$')
exec_line=$(sed -n 's/^Exec=//p' "$root$entry")
echo "$entry: Exec=$exec_line"
cat > "$root/tmp/open-window.sh" << 'EOF'
# Starts the command line $1, waits for its window, saves the screen once the window is drawn
# (two pictures a second apart are the same) and lists the libraries the window program has loaded.
set -u
$1 > /tmp/window.log 2>&1 &
pid=$!
deadline=$(($(date +%s) + 90))
wait_or_fail() {
  kill -0 "$pid" 2> /dev/null || { echo "the program ended: $(cat /tmp/window.log)"; exit 1; }
  [ "$(date +%s)" -lt "$deadline" ] || { echo "$1 within 90 s"; kill "$pid"; exit 1; }
  sleep 1   # polling interval of a condition with a deadline
}
until xwininfo -root -tree | grep -q '"Vantrel ver\. '; do wait_or_fail "no window"; done
xwininfo -root -tree | grep '"Vantrel ver\. ' | head -1
xwd -root -silent > /tmp/before.xwd
while true; do
  wait_or_fail "the window kept changing"
  xwd -root -silent > /tmp/screen.xwd
  cmp -s /tmp/before.xwd /tmp/screen.xwd && break
  mv /tmp/screen.xwd /tmp/before.xwd
done
awk '$6 ~ /\.so/ { print $6 }' "/proc/$pid/maps" | sort -u > /tmp/window-libraries.txt
kill "$pid"
wait "$pid"
cat /tmp/window.log
EOF
in_root xvfb-run -a -s "-screen 0 1280x1024x24" sh /tmp/open-window.sh "${exec_line//%f//tmp/tape.avi}"
cp "$root/tmp/screen.xwd" "$out/window.xwd"
if command -v ffmpeg > /dev/null; then
  ffmpeg -v error -y -i "$out/window.xwd" "$out/window.png" && echo "screenshot: $out/window.png"
fi

# Every library the window loaded, plugins included, must come from a package that the install of
# vantrel brought, not from the X tools installed for this check. Those that only a recommended
# package brought are named (apt-get --no-install-recommends would leave them out).
# shellcheck disable=SC2016  # dpkg-query fills in ${Depends}
depends=$(in_root dpkg-query -W -f='${Depends}' vantrel | sed 's/([^)]*)//g; s/[,|]/ /g')
# shellcheck disable=SC2086  # one word per package
in_root apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
  --no-replaces --no-enhances $depends | grep -v '^[ <]' | sed 's/:.*//' | sort -u > "$out/depends-closure.txt"
missing=0
while read -r library; do
  owner=$(in_root dpkg -S "$library" 2> /dev/null || in_root dpkg -S "${library#/usr}" 2> /dev/null ||
    echo "?: $library")
  package=${owner%%:*}
  if ! grep -qx "$package" "$out/packages-with-vantrel.txt"; then
    echo "not from vantrel's dependencies: $library ($package)"
    missing=1
  elif ! grep -qx "$package" "$out/depends-closure.txt" "$out/packages-fresh.txt"; then
    echo "only through a recommended package: $library ($package)"
  fi
done < "$root/tmp/window-libraries.txt"
echo "$(wc -l < "$root/tmp/window-libraries.txt") libraries loaded by the window"
[ "$missing" -eq 0 ] || exit 1
echo "== all checks passed"
