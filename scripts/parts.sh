# Sourced by the check scripts (bash). A long check is made of parts; each ends passed, failed or
# not run (with the reason), and takes some wall time. The outcomes are lines in the file named by
# DOCSEC_PARTS_FILE, so that a script the check calls (windows_check.sh) adds its own parts to the
# one summary printed at the end.

if [ -z "${DOCSEC_PARTS_FILE:-}" ]; then
  DOCSEC_PARTS_FILE=$(mktemp "${TMPDIR:-/tmp}/docsec-parts-XXXXXX")
fi
export DOCSEC_PARTS_FILE

# part_record NAME STATUS REASON SECONDS   (STATUS: passed, failed or not-run)
# The reason goes last on its line: an empty field between tabs would vanish when read back.
part_record() {
  printf '%s\t%s\t%s\t%s\n' "$1" "$2" "$4" "${3//$'\n'/ }" >>"$DOCSEC_PARTS_FILE"
}

# part NAME COMMAND...: runs COMMAND (a function or a program) as one part, records how it ended
# and leaves its exit status in part_status. Call it as a statement of its own, never from an
# if, && or || (bash turns errexit off for everything called from there, and a function part
# would then go on past its first failing command); the command runs in the background and is
# waited for, so that its failure does not end the caller.
part_status=0
part() {
  local name=$1 start=$SECONDS
  shift
  echo "== $name =="
  part_status=0
  "$@" &
  wait $! || part_status=$?
  if [ "$part_status" -eq 0 ]; then
    part_record "$name" passed "" $((SECONDS - start))
  else
    part_record "$name" failed "exit status $part_status" $((SECONDS - start))
    echo "== $name: FAILED (exit status $part_status)"
  fi
}

# not_run NAME REASON
not_run() {
  echo "== $1: NOT RUN: $2"
  part_record "$1" not-run "$2" 0
}

# packages GROUP...: installs the groups' packages as a part of its own (deps.sh); on failure
# prints nothing more and returns 1 with apt's reason in $packages_reason.
packages_reason=""
packages() {
  local start=$SECONDS out rc=0
  out=$("$(dirname "${BASH_SOURCE[0]}")/deps.sh" "$@" 2>&1) || rc=$?
  [ -z "$out" ] || echo "$out"
  if [ "$rc" -eq 0 ]; then
    [ -z "$out" ] || part_record "packages: $*" passed "" $((SECONDS - start))
    return 0
  fi
  packages_reason=$(echo "$out" | sed -n 's/^not installed: //p' | tail -n 1)
  part_record "packages: $*" not-run "${packages_reason:-apt-get failed}" $((SECONDS - start))
  return 1
}

# parts_summary: prints one line per part and the counts; returns 1 if a part failed.
parts_summary() {
  local name status reason seconds passed=0 failed=0 unrun=0 label
  local total=${1:-}
  echo "== summary =="
  while IFS=$'\t' read -r name status seconds reason; do
    case $status in
      passed) label="passed" ;;
      failed) label="FAILED"; failed=$((failed + 1)) ;;
      *) label="NOT RUN" ;;
    esac
    # Package installs are shown with their time but are not parts of the test: the parts they
    # hold back say so themselves.
    case $name in
      packages:*) ;;
      *) case $status in passed) passed=$((passed + 1)) ;; not-run) unrun=$((unrun + 1)) ;; esac ;;
    esac
    printf '%-8s %-40s %5d s%s\n' "$label" "$name" "$seconds" "${reason:+  ($reason)}"
  done <"$DOCSEC_PARTS_FILE"
  [ -z "$total" ] || echo "whole command: $((total / 60)) min $((total % 60)) s"
  echo "parts: $passed passed, $failed failed, $unrun skipped"
  [ "$failed" -eq 0 ]
}
