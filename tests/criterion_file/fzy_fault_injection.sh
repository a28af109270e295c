#!/usr/bin/env bash
# Stops every change of a criterion file at each write, fsync, rename and
# unlink it makes, one at a time (strace kills the program at the Nth call
# of that kind, N = 1, 2, ... until a run completes), and checks what each
# stop left: the old bytes or the new bytes exactly, readable, and the next
# run works and leaves no temporary file. Then a full disk (ENOSPC) at each
# write and a failed fsync (EIO), and a read-only folder: a message naming
# the cause, the file unchanged, no temporary file.
# Usage: fzy_fault_injection.sh <fzy_fault_driver>      (exit 77: skipped)
set -u
driver="$1"
if ! command -v strace >/dev/null 2>&1; then
  echo "SKIPPED: strace is not installed (scripts/install-deps installs it)"
  exit 77
fi
if ! strace -f -qq -o /dev/null -e trace=none true 2>/dev/null; then
  echo "SKIPPED: strace cannot trace here (ptrace not permitted)"
  exit 77
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# fresh <scenario> <folder>: the scenario's starting files, copied from a
# template made once.
fresh() {
  local t="$work/template-$1"
  if [ ! -d "$t" ]; then
    mkdir -p "$t" && "$driver" setup "$1" "$t" || return 1
  fi
  cp -a "$t" "$2"
}

tmp_left() {  # the temporary files a change may leave beside p.fzy or store/real.fzy
  ls -A "$1"/.p.fzy.vark-tmp-* "$1"/store/.real.fzy.vark-tmp-* 2>/dev/null
}

# kill <scenario> <syscall>: stops at the 1st, 2nd... call until a run completes.
kill_each() {
  local scenario="$1" call="$2" n=0 rc state next left=() old=0 new=0
  while :; do
    n=$((n + 1))
    local d="$work/$scenario-$call-$n"
    fresh "$scenario" "$d" || { fail "$scenario: setup"; return; }
    { strace -f -qq -o /dev/null -e trace="$call" -e inject="$call":signal=KILL:when="$n" \
      "$driver" change "$scenario" "$d" >/dev/null 2>"$d/err"; } 2>/dev/null
    rc=$?
    state="$("$driver" verify "$scenario" "$d")" || { fail "$scenario $call#$n: $state"; return; }
    if [ "$rc" -eq 0 ]; then
      [ "$state" = 1 ] || fail "$scenario $call#$n: run completed, file holds $state changes"
      [ -z "$(tmp_left "$d")" ] || fail "$scenario $call#$n: completed run left $(tmp_left "$d")"
      break
    fi
    [ "$rc" -eq 137 ] || { fail "$scenario $call#$n: exit $rc: $(cat "$d/err")"; return; }
    case "$state" in
      0) old=$((old + 1)) ;;
      1) new=$((new + 1)) ;;
      *) fail "$scenario $call#$n: stop left $state changes" ;;
    esac
    # The next run works, from whatever the stop left.
    next="$("$driver" next "$scenario" "$d" 2>"$d/err")" ||
      fail "$scenario $call#$n: next run: $next $(cat "$d/err")"
    if [ "$scenario" = valid ]; then
      [ "$next" = 1 ] || fail "$scenario $call#$n: next run left $next"
    else
      [ "$next" = $((state + 1)) ] || fail "$scenario $call#$n: next run left $next after $state"
    fi
    [ -z "$(tmp_left "$d")" ] || fail "$scenario $call#$n: next run left $(tmp_left "$d")"
    if [ "$n" -ge 200 ]; then
      fail "$scenario $call: no run completed within 200 stops"
      break
    fi
  done
  printf '%-7s %-7s stops %3d   left old %3d   left new %3d   completed at call %d\n' \
    "$scenario" "$call" $((n - 1)) "$old" "$new" "$n"
  total=$((total + n - 1))
}

# error <scenario> <syscall> <errno> <expected text>: the Nth call fails.
error_each() {
  local scenario="$1" call="$2" errno="$3" text="$4" n=0 rc state refused=0
  while :; do
    n=$((n + 1))
    local d="$work/$scenario-$call-$errno-$n"
    fresh "$scenario" "$d" || { fail "$scenario: setup"; return; }
    strace -f -qq -o /dev/null -e trace="$call" -e inject="$call":error="$errno":when="$n" \
      "$driver" change "$scenario" "$d" >/dev/null 2>"$d/err"
    rc=$?
    state="$("$driver" verify "$scenario" "$d")" || { fail "$scenario $call=$errno#$n: $state"; return; }
    [ -z "$(tmp_left "$d")" ] || fail "$scenario $call=$errno#$n: left $(tmp_left "$d")"
    if [ "$rc" -eq 0 ]; then
      [ "$state" = 1 ] || fail "$scenario $call=$errno#$n: success, yet $state changes"
      break
    fi
    refused=$((refused + 1))
    [ "$state" = 0 ] || fail "$scenario $call=$errno#$n: failed, yet the file changed"
    grep -q "$text" "$d/err" || fail "$scenario $call=$errno#$n: message lacks \"$text\": $(cat "$d/err")"
    [ "$n" -lt 50 ] || { fail "$scenario $call=$errno: never completes"; break; }
  done
  printf '%-7s %-7s %-6s failed %d time(s), file unchanged, then completed at call %d\n' \
    "$scenario" "$call" "$errno" "$refused" "$n"
}

read_only_folder() {
  local scenario="$1" d="$work/ro-$1" as=()
  fresh "$scenario" "$d" || { fail "ro $scenario: setup"; return; }
  if [ "$(id -u)" -eq 0 ]; then
    # Permissions do not bind the superuser: the change runs as nobody, who
    # owns the files.
    if ! command -v setpriv >/dev/null 2>&1; then
      echo "read-only folder: skipped (superuser, no setpriv)"
      return
    fi
    chown -R 65534:65534 "$d"
    as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  fi
  chmod 555 "$d"
  [ ! -d "$d/store" ] || chmod 555 "$d/store"
  if "${as[@]}" "$driver" change "$scenario" "$d" >/dev/null 2>"$d/../ro-$scenario.err"; then
    fail "ro $scenario: change succeeded in a read-only folder"
  fi
  grep -q "read-only" "$d/../ro-$scenario.err" ||
    fail "ro $scenario: message lacks the cause: $(cat "$d/../ro-$scenario.err")"
  local state
  state="$("$driver" verify "$scenario" "$d")" || fail "ro $scenario: $state"
  [ "$state" = 0 ] || fail "ro $scenario: the file changed"
  [ -z "$(tmp_left "$d")" ] || fail "ro $scenario: left $(tmp_left "$d")"
  chmod 755 "$d"
  [ ! -d "$d/store" ] || chmod 755 "$d/store"
  echo "read-only folder, $scenario: refused ($(head -c 160 "$d/../ro-$scenario.err" | tr '\n' ' '))"
}

# The scenarios run side by side, each reporting into its own log.
pids=()
run_scenario() {
  local scenario="$1"
  total=0
  for call in write fsync rename unlink; do
    kill_each "$scenario" "$call"
  done
  if [ "$scenario" != link ]; then
    error_each "$scenario" write ENOSPC "No space left on device"
    error_each "$scenario" fsync EIO "Input/output error"
  fi
  if [ "$scenario" = append ] || [ "$scenario" = valid ]; then
    read_only_folder "$scenario"
  fi
  echo "stops tried: $total"
  exit $((failures > 0))
}

for scenario in new append link valid; do
  fresh "$scenario" "$work/check-$scenario" || { echo "FAIL: $scenario: setup"; exit 1; }
  run_scenario "$scenario" >"$work/$scenario.log" 2>&1 &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
stops=0
for scenario in new append link valid; do
  grep -v '^stops tried' "$work/$scenario.log"
  stops=$((stops + $(sed -n 's/^stops tried: //p' "$work/$scenario.log")))
  grep -q '^FAIL' "$work/$scenario.log" && status=1
done
echo "stops tried: $stops"
if [ "$status" -ne 0 ]; then
  echo "failures above"
  exit 1
fi
echo "every stop left the old or the new file, whole; every next run worked"
