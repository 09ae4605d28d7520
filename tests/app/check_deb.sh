#!/bin/bash
# Builds the Debian package from a build folder and checks it as a user's
# machine would see it: its name, metadata and dependencies, that it installs
# files under /usr only, that its desktop entry is valid, that the program it
# holds names no environment variable of ours, and that this program starts,
# unpacked into a scratch root, with a fresh data folder to its main window.
#   check_deb.sh <build folder> <version> <scratch folder>
# The build folder is a test build (CTest runs this), so its program has the
# test switch --dialog-log, with which the start is watched. make deb packages
# a build without tests, whose program has no test hook at all (its link
# checks that with the same reading of the program as below).
set -euo pipefail
build=$1 version=$2 work=$3
source=$(cd "$(dirname "$0")/../.." && pwd)
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/cpack" \
  -D CPACK_OUTPUT_FILE_PREFIX="$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
deb="$work/out/vostrel_${version}_amd64.deb"
[ -f "$deb" ] || fail "no $deb"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = vostrel ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = amd64 ] || fail "Architecture: $(field Architecture)"
depends=$(field Depends)
echo "Depends: $depends"
# What the program links (computed from the binary) and what it loads.
for needed in fonts-noto-cjk breeze-icon-theme libqt6svg6 qt6-qpa-plugins qt6-translations-l10n \
              libqt6widgets6 libqt6webenginewidgets6 libqt6webenginecore6-bin libqscintilla2-qt6-15 libssl3; do
  grep -Eq "(^|, )$needed( |,|$)" <<<"$depends" || fail "Depends lacks $needed"
done
# Nothing needed only to build or to test.
for unwanted in -dev gtest gmock benchmark cmake ninja clang python3 aiosmtpd dovecot postfix \
                swaks openssl; do
  ! grep -Eq "(^|, )[^,]*$unwanted" <<<"$depends" || fail "Depends holds $unwanted"
done

# Files under /usr only: the program, the menu entry and the icon.
files=$(dpkg-deb -c "$deb" | awk '{print $6}')
while read -r path; do
  case "$path" in ./usr/*) ;; *) fail "file outside /usr: $path" ;; esac
done <<<"$files"
for expected in ./usr/bin/vostrel ./usr/share/applications/vostrel.desktop \
                ./usr/share/icons/hicolor/scalable/apps/vostrel.svg; do
  grep -qx "$expected" <<<"$files" || fail "missing $expected"
done
[ -z "$(dpkg-deb -c "$deb" | grep -E '\.(a|h|so)$|/test|/bench' || true)" ] ||
  fail "build or test files in the package"
# No maintainer scripts: removing the package never touches anyone's data.
! dpkg-deb -I "$deb" | grep -Eq ' (pre|post)(inst|rm) ' || fail "maintainer scripts"

root="$work/root"
dpkg -x "$deb" "$root"
out=$(desktop-file-validate "$root/usr/share/applications/vostrel.desktop" 2>&1) ||
  fail "desktop-file-validate: $out"
[ -z "$out" ] || fail "desktop-file-validate: $out"

# The program reads no environment variable of ours.
out=$(cmake -DPROGRAM="$root/usr/bin/vostrel" -DHOOKS=ON \
        -P "$source/cmake/CheckProgramHooks.cmake" 2>&1) || fail "$out"

# The unpacked program starts with a fresh data folder to its main window;
# a second start finds it running and asks it to come to the front.
# The runtime folder stays short whatever the build folder's path: a local
# socket's path holds at most 107 bytes.
data="$work/xdg-data"
runtime=$(mktemp -d /tmp/vostrel-deb-rt-XXXXXX)
mkdir -p "$data"
chmod 700 "$runtime"
first=
# Every way out ends the program by its own process id, a failed check, an
# interruption or CTest's time limit alike.
finish() {
  if [ -n "$first" ]; then
    kill -KILL "$first" 2>/dev/null || true
    wait "$first" 2>/dev/null || true
  fi
  rm -rf "$runtime"
}
trap finish EXIT
trap 'exit 1' INT TERM HUP
# run <name> [<command that runs the program>...]
run() {
  local name=$1
  shift
  exec env XDG_DATA_HOME="$data" XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=offscreen \
      "$@" "$root/usr/bin/vostrel" --dialog-log "$work/$name.log" >"$work/$name.out" 2>&1
}
# The subshell becomes the program: its process id is the program's.
(run first) &
first=$!
for _ in $(seq 1 300); do
  [ -S "$runtime/HALVIK_VOSTREL_ONCE" ] && break
  kill -0 "$first" 2>/dev/null || { cat "$work/first.out"; fail "the program ended at start"; }
  sleep 0.1
done
[ -S "$runtime/HALVIK_VOSTREL_ONCE" ] || fail "the program never got going"
# The second start ends by itself; timeout ends it by its process id if not.
(run second timeout -k 5 60) || true
for _ in $(seq 1 100); do
  grep -q "activated" "$work/first.log" 2>/dev/null && break
  sleep 0.1
done
grep -qx "activated	TFormMain" "$work/first.log" || { cat "$work/first.out"; fail "no main window"; }
grep -q "既に起動されています" "$work/second.log" || fail "the second start did not say so"
for folder in Logs Signature Senders Receivers work; do
  [ -d "$data/Halvik/Vostrel/$folder" ] || fail "no data folder $folder"
done
echo "package $deb: ok"
