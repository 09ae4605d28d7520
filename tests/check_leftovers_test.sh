#!/bin/bash
# The check for leftover processes finds what a test of a build folder left
# running, a process that carries the folder's variable and a dovecot master
# listed for it alike, names and ends each; it passes over the processes of
# another build folder and a listed dovecot that is gone, and passes when
# nothing is left.
#   check_leftovers_test.sh <source folder> <scratch folder>
set -euo pipefail
check="$1/tests/check_leftovers.sh"
work=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
rm -rf "$work"
mkdir -p "$work/build/tests/peers/running-dovecot" "$work/other"
pids=()
finish() {
  for pid in "${pids[@]}"; do
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
}
trap finish EXIT
trap 'exit 1' INT TERM HUP
alive() { [ -n "$(tr -d '\0' 2>/dev/null <"/proc/$1/environ")" ]; }

[ -z "$(bash "$check" "$work/build" 0 2>&1)" ] || fail "something was left before the test"

# Left by a test of this build folder, and by one of another build folder.
env VOSTREL_TEST_BUILD="$work/build" sleep 300 &
ours=$!
pids+=("$ours")
env VOSTREL_TEST_BUILD="$work/other" sleep 300 &
other=$!
pids+=("$other")
# A dovecot master as the test peers list it (its command line names its
# configuration after -c; the shell does not hand over to sleep), and one
# listed that is gone.
setsid bash -c 'sleep 300; :' -c "$work/dovecot.conf" &
dovecot=$!
pids+=("$dovecot")
echo "$work/dovecot.conf" >"$work/build/tests/peers/running-dovecot/$dovecot"
echo "$work/gone.conf" >"$work/build/tests/peers/running-dovecot/999999999"
for _ in $(seq 1 100); do
  tr '\0' ' ' <"/proc/$dovecot/cmdline" | grep -q -- "-c $work/dovecot.conf" && break
  sleep 0.05
done

if out=$(bash "$check" "$work/build" 0 2>&1); then fail "no leftover found: $out"; fi
grep -qx "  $ours: sleep 300 " <<<"$out" || fail "$ours not named: $out"
grep -qx "  $dovecot: bash -c sleep 300; : -c $work/dovecot.conf " <<<"$out" ||
  fail "dovecot $dovecot not named: $out"
[ "$(grep -c '^  ' <<<"$out")" = 2 ] || fail "more than the two named: $out"
for _ in $(seq 1 100); do
  alive "$ours" || alive "$dovecot" || break
  sleep 0.05
done
! alive "$ours" || fail "$ours still runs"
! alive "$dovecot" || fail "dovecot $dovecot still runs"
alive "$other" || fail "the other build folder's process was ended"
[ ! -e "$work/build/tests/peers/running-dovecot/999999999" ] || fail "a gone dovecot stays listed"

out=$(bash "$check" "$work/build" 0 2>&1) || fail "a second check still finds: $out"
echo "check_leftovers: ok"
