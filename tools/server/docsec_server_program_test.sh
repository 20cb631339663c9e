#!/usr/bin/env bash
# The docsec-server program as an operator runs it: --help names every option, mistakes give a
# usage error (exit 2), --init-demo seeds and prints the accounts, a login over HTTP answers with
# a session header, the database survives a restart, SIGTERM stops it cleanly (exit 0).
# Usage: docsec_server_program_test.sh PATH-TO-docsec-server
set -euo pipefail
server=$1
dir=$(mktemp -d "${TMPDIR:-/tmp}/docsec-server-program-XXXXXX")
pid=
cleanup() {
  if [ -n "$pid" ]; then kill -KILL "$pid" 2>/dev/null || true; fi
  rm -rf "$dir"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; [ -f "$dir/log" ] && cat "$dir/log" >&2; exit 1; }

"$server" --help >"$dir/help" || fail "--help did not exit 0"
for option in --db --listen --tls-cert --tls-key --init-demo --demo-computer --admin-password; do
  grep -q -- "$option" "$dir/help" || fail "--help does not document $option"
done
for args in "--listen 127.0.0.1:0" "--db $dir/x.db" "--db $dir/x.db --listen nowhere" \
            "--db $dir/x.db --listen 127.0.0.1:0 --tls-cert only.pem" "--bogus"; do
  rc=0
  # shellcheck disable=SC2086
  "$server" $args 2>/dev/null || rc=$?
  [ "$rc" -eq 2 ] || fail "'$args' gave exit $rc, not 2"
done

# Sends one request to the listening server with bash's own TCP support; prints the response.
post() {  # post PORT PATH BODY [SESSION]
  exec 3<>"/dev/tcp/127.0.0.1/$1"
  printf 'POST %s HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nContent-Type: application/xml\r\n%sContent-Length: %d\r\n\r\n%s' \
    "$2" "${4:+X-Docsec-Session: $4$'\r\n'}" "${#3}" "$3" >&3
  cat <&3
  exec 3<&-
}

start() {  # start EXTRA-ARGS...
  "$server" --db "$dir/demo.db" --listen 127.0.0.1:0 "$@" 2>"$dir/log" &
  pid=$!
  for _ in $(seq 200); do
    grep -q "listening" "$dir/log" && break
    kill -0 "$pid" 2>/dev/null || fail "server exited at start"
    sleep 0.1
  done
  port=$(sed -n 's/.*listening on http:\/\/127\.0\.0\.1:\([0-9]*\).*/\1/p' "$dir/log")
  [ -n "$port" ] || fail "server did not report its port"
}

stop() {
  kill -TERM "$pid"
  rc=0
  wait "$pid" || rc=$?
  pid=
  [ "$rc" -eq 0 ] || fail "server exited $rc after SIGTERM"
  grep -q "stopped" "$dir/log" || fail "server did not report a clean stop"
}

start --init-demo --demo-computer "11111111-2222-4333-8444-555555555555@127.0.0.121=agent-a"
grep -q "demo account eng.admin .*password demo-eng" "$dir/log" || fail "demo accounts not printed"
login='<?xml version="1.0" encoding="UTF-8"?><document><service value="Login"/><user id="admin" password="demo-admin"/></document>'
answer=$(post "$port" /svc "$login")
echo "$answer" | grep -q '<return code="0"/>' || fail "login failed: $answer"
session=$(echo "$answer" | tr -d '\r' | sed -n 's/^X-Docsec-Session: //p')
[ ${#session} -eq 64 ] || fail "no session header in: $answer"
query='<?xml version="1.0" encoding="UTF-8"?><document><service value="QueryComputer"/><computer ip="127.0.0.121"/></document>'
answer=$(post "$port" /svc "$query" "$session")
echo "$answer" | grep -q 'uuid="11111111-2222-4333-8444-555555555555"' || fail "demo computer missing: $answer"
answer=$(post "$port" /svc "$query")
echo "$answer" | grep -q '<return code="201"' || fail "no session was not refused: $answer"
stop

start
answer=$(post "$port" /svc "$login")
echo "$answer" | grep -q '<return code="0"/>' || fail "login after restart failed: $answer"
# A second server may take neither the database nor the port of a running one.
rc=0
"$server" --db "$dir/demo.db" --listen 127.0.0.1:0 2>"$dir/second" || rc=$?
[ "$rc" -eq 1 ] || fail "a second server on the same database gave exit $rc"
grep -q "held by another server (process $pid)" "$dir/second" || fail "holder not named: $(cat "$dir/second")"
rc=0
timeout 10 "$server" --db "$dir/other.db" --listen "127.0.0.1:$port" 2>"$dir/second" || rc=$?
[ "$rc" -eq 1 ] || fail "a second server on a taken port gave exit $rc"
stop
[ "$(stat -c %a "$dir/demo.db")" = 600 ] || fail "the database is not private to its owner"

# The first admin password from the environment; the flag that shows it to everyone warns.
DOCSEC_ADMIN_PASSWORD=from-env start --db "$dir/env.db"
answer=$(post "$port" /svc "${login/demo-admin/from-env}")
echo "$answer" | grep -q '<return code="0"/>' || fail "login with the password from the environment failed: $answer"
stop
rc=0
"$server" --admin-password shown --help 2>"$dir/second" >/dev/null || rc=$?
grep -q "warning: --admin-password" "$dir/second" || fail "--admin-password did not warn"

echo "docsec-server program test passed"
