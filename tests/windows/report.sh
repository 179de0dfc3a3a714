# shellcheck shell=bash
# How the Wine test scripts report: one line "ok NAME" or "FAIL NAME" per check, a test program's own lines
# counted alike, and "N passed, N failed" at the end. Source this file, then:
#
#   check NAME COMMAND...          one check, by the command's status; what the command printed is shown when it
#                                  fails (and kept in $REPORT_LOGS/NAME.log where REPORT_LOGS is set)
#   count_program NAME STATUS OUTPUT   counts the "ok"/"FAIL" lines of a program's OUTPUT; a program that exited
#                                  with STATUS other than 0 and reported no failure is one failure more
#   tally OUTPUT STATUS NAME       the same for output already shown ("skip" lines are counted too)
#   skip NAME REASON               a check this machine cannot make, counted and shown with its reason
#   report_totals                  prints the totals; fails when any check failed

passed=0 failed=0 skipped=0

skip() {
  skipped=$((skipped + 1)); echo "skip $1: $2"
}

check() {
  local name=$1 log
  shift
  log=${REPORT_LOGS:-${TMPDIR:-/tmp}}/$(echo "$name" | tr -c 'A-Za-z0-9\n' '-').log
  if "$@" >"$log" 2>&1; then
    passed=$((passed + 1)); echo "ok   $name"
  else
    failed=$((failed + 1)); echo "FAIL $name"; sed 's/^/     /' "$log"
  fi
  [ -n "${REPORT_LOGS:-}" ] || rm -f "$log"
}

count_program() {
  printf '%s\n' "$3" | grep -E '^(ok|FAIL) ' | sed "s/^/  [$1] /"
  tally "$3" "$2" "$1"
}

tally() {
  local output=$1 status=$2 name=$3 ok bad unmade
  ok=$(printf '%s\n' "$output" | grep -c '^ok ' || true)
  bad=$(printf '%s\n' "$output" | grep -c '^FAIL ' || true)
  unmade=$(printf '%s\n' "$output" | grep -c '^skip ' || true)
  passed=$((passed + ok)); failed=$((failed + bad)); skipped=$((skipped + unmade))
  if [ "$status" -ne 0 ] && [ "$bad" -eq 0 ]; then
    failed=$((failed + 1)); echo "FAIL $name: exited $status"
    printf '%s\n' "$output" | tail -5
  fi
}

report_totals() {
  echo "$passed passed, $failed failed$([ "$skipped" -eq 0 ] || echo ", $skipped skipped")"
  [ "$failed" -eq 0 ]
}
