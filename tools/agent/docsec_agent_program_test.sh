#!/usr/bin/env bash
# The docsec-agent program as an operator runs it: --help names every option, mistakes give a
# usage error (exit 2), a real start listens and keeps its key, SIGTERM stops it cleanly (exit 0).
# Usage: docsec_agent_program_test.sh PATH-TO-docsec-agent
set -euo pipefail
agent=$1
address=127.0.0.$((RANDOM % 253 + 2))  # for the usage checks; the real start picks its own
dir=$(mktemp -d "${TMPDIR:-/tmp}/docsec-agent-program-XXXXXX")
pid=
cleanup() {
  if [ -n "$pid" ]; then kill -KILL "$pid" 2>/dev/null || true; fi
  rm -rf "$dir"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; [ -f "$dir/log" ] && cat "$dir/log" >&2; exit 1; }

"$agent" --help >"$dir/help" || fail "--help did not exit 0"
for option in --listen --drive --uuid --state-dir --verbose --help; do
  grep -q -- "$option" "$dir/help" || fail "--help does not document $option"
done

rc=0
"$agent" --listen "$address" 2>"$dir/usage" || rc=$?
[ "$rc" -eq 2 ] || fail "missing --drive gave exit $rc, not 2"
grep -q -- "--drive" "$dir/usage" || fail "usage error does not name --drive"
rc=0
"$agent" --listen "$address" --drive "C:=$dir/share" --bogus 2>"$dir/usage" || rc=$?
[ "$rc" -eq 2 ] || fail "unknown option gave exit $rc, not 2"
rc=0
"$agent" --listen "$address" --drive "C:=$dir/missing" --state-dir "$dir/state0" 2>"$dir/usage" \
  || rc=$?
[ "$rc" -eq 1 ] || fail "missing drive directory gave exit $rc, not 1"

mkdir "$dir/share"
# The agent port may be taken on some loopback addresses by other tests or programs: start on a
# random 127.0.0.N and move on to another when the bind is refused.
for _ in $(seq 40); do
  address=127.0.0.$((RANDOM % 253 + 2))
  "$agent" --listen "$address" --drive "C:=$dir/share" --state-dir "$dir/state" 2>"$dir/log" &
  pid=$!
  for _ in $(seq 100); do
    grep -q "listening" "$dir/log" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  grep -q "listening" "$dir/log" && break
  wait "$pid" || true
  pid=
  grep -q "Address already in use" "$dir/log" || fail "agent exited at start"
done
[ -n "$pid" ] || fail "no free loopback address for the agent"
grep -q "listening on $address:24567" "$dir/log" || fail "agent did not report listening"
[ -s "$dir/state/file-key" ] || fail "no key kept in the state directory"
[ "$(stat -c %a "$dir/state/file-key")" = 600 ] || fail "key file is not mode 600"
uuid=$(cat "$dir/state/agent-uuid")
grep -q "uuid $uuid" "$dir/log" || fail "reported uuid is not the kept one"

kill -TERM "$pid"
for _ in $(seq 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "agent still runs 10 s after SIGTERM"
rc=0
wait "$pid" || rc=$?
pid=
[ "$rc" -eq 0 ] || fail "agent exited $rc after SIGTERM"
grep -q "stopped" "$dir/log" || fail "agent did not report a clean stop"
echo "docsec-agent program test passed"
