#!/bin/bash
# Ctrl+C during a long Brelvane call in interactive Octave: a real SIGINT must
# end the call (one of them showing its progress lines as it runs) with the
# catchable error Brelvane:interrupted within a second,
# every time, without Octave counting the presses towards an abort; an
# interrupt of plain Octave code must still behave as usual; and afterwards
# the module must still compute, and Octave exit cleanly.
#
#   octave_interrupt_test.sh <octave executable> <folder holding Brelvane.mex>
#
# Octave reads its commands from a FIFO. Each signal is sent only once the
# command's start marker has appeared: a SIGINT that reaches a pipe-fed Octave
# idle at its prompt makes it drop the next input line.

set -u
trap '' PIPE   # a dead Octave must show up as a failed write, not kill this script

if [ $# -ne 2 ]; then
  echo "usage: $0 <octave executable> <folder holding Brelvane.mex>" >&2
  exit 2
fi
octave=$1
module_dir=$(cd "$2" && pwd) || exit 2

work=$(mktemp -d) || exit 2
pid=
cleanup() {
  exec 3>&- 2>/dev/null
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill -KILL "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT

log=$work/out
fail() {
  echo "---- Octave transcript ----"
  cat "$log"
  echo "---------------------------"
  echo "FAIL: octave_interrupt_test: $*"
  exit 1
}

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# wait_for PATTERN DEADLINE_MS: true once a line matching PATTERN (grep -E) is
# in the transcript, false when the deadline passes or Octave has exited.
wait_for() {
  while :; do
    grep -Eq -- "$1" "$log" && return 0
    [ "$(now_ms)" -ge "$2" ] && return 1
    kill -0 "$pid" 2>/dev/null || { grep -Eq -- "$1" "$log"; return; }
    sleep 0.02
  done
}

send() { printf '%s\n' "$1" >&3 || fail "could not send a command to Octave (exited?)"; }

mkfifo "$work/in" || exit 2
# Run from the scratch folder: an Octave that aborts writes its workspace there.
cd "$work" || exit 2
"$octave" --no-gui --interactive --no-line-editing --no-history --norc --quiet \
  < "$work/in" > "$log" 2>&1 &
pid=$!
exec 3> "$work/in"

# P symmetric indefinite, c and d nonzero, Q positive definite but with
# condition number near 6e4: the descent creeps, and 1e12 iterations on
# n = 300 run for many minutes, far longer than the test. (With a well
# conditioned Q it becomes exactly stationary, and returns, within 0.2 s.)
send "addpath('$module_dir'); rand('seed', 20240611); n = 300; A = rand(n) - 0.5; P = A + A.'; B = rand(n) - 0.5; Q = B * B.' + 1e-3 * eye(n); c = rand(n, 1) - 0.5; d = rand(n, 1) - 0.5; x0 = ones(n, 1); disp('BRELVANE-READY'); fflush(stdout);"
wait_for 'BRELVANE-READY' $(( $(now_ms) + 120000 )) || fail "Octave did not start"

# interrupt NAME: once NAME's start marker is out, wait 0.5 s, check the
# command is still running, send SIGINT, and require NAME's end marker within
# 1 s of the signal.
interrupt() {
  wait_for "BRELVANE-START-$1\$" $(( $(now_ms) + 30000 )) || fail "$1: command did not start"
  sleep 0.5
  grep -Eq "BRELVANE-END-$1\$" "$log" && fail "$1: command ended before the signal"
  kill -INT "$pid" 2>/dev/null || fail "$1: Octave is gone"
  local signalled
  signalled=$(now_ms)
  wait_for "BRELVANE-END-$1\$" $(( signalled + 1000 )) \
    || fail "$1: no end marker within 1 s of SIGINT"
}

round() {
  send "disp('BRELVANE-START-$1'); fflush(stdout); try, Brelvane(x0, P, c, 1, Q, d, 1, 300, 1e12); disp('BRELVANE-RETURNED'); catch err, disp(err.identifier), end, disp('BRELVANE-END-$1'); fflush(stdout);"
  interrupt "$1"
  sed -n "/BRELVANE-START-$1\$/,/BRELVANE-END-$1\$/p" "$log" | grep -qx 'Brelvane:interrupted' \
    || fail "$1: the call did not end with Brelvane:interrupted caught by try/catch"
}

round call1
round call2
# With 'Display', 'iter': the header, the start's line and the line after a
# second show in the transcript while the call still runs (Octave passes
# mexPrintf's text on at once), and Ctrl+C still ends the call.
send "disp('BRELVANE-START-display'); fflush(stdout); try, Brelvane(x0, P, c, 1, Q, d, 1, 300, 1e12, 'Display', 'iter'); disp('BRELVANE-RETURNED'); catch err, disp(err.identifier), end, disp('BRELVANE-END-display'); fflush(stdout);"
wait_for '^ +iteration +R +max \|dR/dx_j\| +seconds$' $(( $(now_ms) + 30000 )) \
  || fail "display: no header while the call runs"
wait_for '^ +[1-9][0-9]* +[-0-9.e+]+ +[0-9.e+-]+ +1\.[0-9][0-9]$' $(( $(now_ms) + 5000 )) \
  || fail "display: no line after a second while the call runs"
interrupt display
sed -n '/BRELVANE-START-display$/,/BRELVANE-END-display$/p' "$log" | grep -qx 'Brelvane:interrupted' \
  || fail "display: the call did not end with Brelvane:interrupted"
# Plain Octave code: Ctrl+C abandons the command line as usual (try/catch does
# not see it) and Octave goes on with the next one.
send "disp('BRELVANE-START-loop'); fflush(stdout); try, t = tic; while toc(t) < 30, end, disp('BRELVANE-LOOP-RAN-ON'); catch, end"
send "disp('BRELVANE-END-loop'); fflush(stdout);"
interrupt loop
grep -q 'BRELVANE-LOOP-RAN-ON' "$log" && fail "loop: the Octave loop was not interrupted"
round call3

# x0 = [1;1], P = diag(2,4), c = [1;0], Q = I: x(1) ends at 1 - sqrt(3).
send "x = Brelvane([1; 1], diag([2 4]), [1; 0], 1, eye(2), [0; 0], 1, 2, 10); printf('BRELVANE-X1 %.15g\n', x(1)); fflush(stdout);"
wait_for 'BRELVANE-X1 ' $(( $(now_ms) + 30000 )) || fail "worked example: no result"
grep -q 'BRELVANE-X1 -0\.732050807568877$' "$log" \
  || fail "worked example: x(1) is not 1 - sqrt(3) = -0.732050807568877"

send "exit"
exec 3>&-
deadline=$(( $(now_ms) + 30000 ))
while kill -0 "$pid" 2>/dev/null; do
  [ "$(now_ms)" -ge "$deadline" ] && fail "Octave did not exit after 'exit'"
  sleep 0.05
done
wait "$pid"
status=$?
pid=
[ "$status" -eq 0 ] || fail "Octave exited with status $status"

grep -Eiq 'Press Control-C|abort|stopping myself|panic' "$log" \
  && fail "Octave treated the interrupts as a request to abort"
grep -q 'BRELVANE-RETURNED' "$log" && fail "a long call returned normally"

echo "PASS: octave_interrupt_test: 4 interrupted calls (one showing its progress), 1 interrupted Octave loop, worked example, clean exit"
