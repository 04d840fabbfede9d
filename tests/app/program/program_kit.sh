# Shared by the scripts that run the built program against the fake
# organisation server program; sourced, with the program and the server
# program as $1 and $2. It gives: `work` (a folder removed at exit, which
# also holds HOME and the XDG folders), `python`, `fail` (reports and ends
# the test), `start_server` (the fake server with a remembered sign-in of
# "demo" seeded, its request log in $work/requests.jsonl; extra KVR_FAKE_
# settings may be exported before), `port`, `token`, and `app_pid`, which
# the caller sets when it starts the program.
set -u
exe="$1"
server_program="$2"
work="$(mktemp -d)"
server_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "--- program output"; tail -40 "$work/out.txt" 2>/dev/null; echo "0 passed, 1 failed"; exit 1; }

export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" \
       XDG_STATE_HOME="$work/home/.local/state" XDG_CACHE_HOME="$work/home/.cache"

python=/usr/bin/python3; [ -x "$python" ] || python=python3
# The scripts' inline Python steps share desktop_kit.py.
export PYTHONPATH="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)${PYTHONPATH:+:$PYTHONPATH}"
port="$("$python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
token="remembered-$(date +%s%N)"

start_server() {
  KVR_FAKE_PORT="$port" KVR_FAKE_LOG="$work/requests.jsonl" KVR_FAKE_REFRESH_TOKEN="$token" \
    "$server_program" >"$work/server.txt" 2>&1 &
  server_pid=$!
  for _ in $(seq 1 100); do grep -q listening "$work/server.txt" && break; sleep 0.1; done
  grep -q listening "$work/server.txt" || fail "the fake server did not start"
  # The remembered sign-in, as the program itself writes it.
  mkdir -p "$XDG_DATA_HOME/Kavira/Kavira"
  printf '{"username":"demo","refresh_token":"%s","signed_in_at":"%s"}' "$token" "$(date -u +%Y-%m-%dT%H:%M:%SZ)" \
    >"$XDG_DATA_HOME/Kavira/Kavira/session.json"
  chmod 600 "$XDG_DATA_HOME/Kavira/Kavira/session.json"
}
