#!/usr/bin/env bash
# The logic-library check sees a window library reached through another
# library and linked after the check was asked for: that configuration fails
# and names the link; the same project without that link configures.
#   logic_check.sh <source dir> <work folder>
set -uo pipefail
src=$1 work=$2
rm -rf "$work"
configure() {
  cmake -S "$src/tests/tools/logic_check" -B "$work/$1" -G Ninja \
    -DVOSTREL_SOURCE_DIR="$src" -DWINDOW_LINK="$1" >"$work/$1.log" 2>&1
}
mkdir -p "$work"
configure OFF || { cat "$work/OFF.log"; echo "FAIL: the project without a window link failed"; exit 1; }
if configure ON; then
  echo "FAIL: a logic library reaching fake_window_ui configured"; exit 1
fi
grep -q "logic library fake_logic must not link fake_window_ui" "$work/ON.log" || {
  cat "$work/ON.log"; echo "FAIL: the check did not name the link"; exit 1; }
echo "ok"
