#!/bin/bash
# Run by CTest after every other test: fails when a process that a test of
# this build folder started is still running (a program, a mail server, a
# child that should have died), names it, and ends it by its process id.
#   check_leftovers.sh <build folder> [<seconds a process may take to end>]
# Every test runs with VOSTREL_TEST_BUILD=<build folder>; the processes it
# starts inherit that, and /proc/<pid>/environ keeps the environment a process
# started with for as long as it runs. dovecot writes over its own, so the
# test peers list each dovecot master they start in
# tests/peers/running-dovecot/<pid> (the file holds its configuration's path)
# until it is gone. This script itself runs without the variable. Another
# CTest run of the same build folder at the same time would count too.
set -uo pipefail
build=$1
grace=${2:-5}
marker="VOSTREL_TEST_BUILD=$build"
dovecots="$build/tests/peers/running-dovecot"

# The process ids, a dovecot master's as -<id> (its whole process group).
leftovers() {
  grep -lzxF -- "$marker" /proc/[0-9]*/environ 2>/dev/null |
    sed -E 's#^/proc/([0-9]+)/environ$#\1#'
  for file in "$dovecots"/*; do
    [ -f "$file" ] || continue
    pid=${file##*/}
    if tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline" | grep -qF -- "-c $(cat "$file")"; then
      echo "-$pid"
    else
      rm -f "$file" # gone; the id may since belong to another process
    fi
  done
}

# A process that is ending at this moment gets a few seconds to be gone.
pids=$(leftovers)
for _ in $(seq 1 $((grace * 10))); do
  [ -z "$pids" ] && break
  sleep 0.1
  pids=$(leftovers)
done
[ -z "$pids" ] && exit 0

echo "FAIL: processes that tests started are still running:" >&2
for pid in $pids; do
  echo "  ${pid#-}: $(tr '\0' ' ' 2>/dev/null <"/proc/${pid#-}/cmdline")" >&2
done
for pid in $pids; do
  kill -KILL -- "$pid" 2>/dev/null
done
exit 1
