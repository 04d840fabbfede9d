#!/usr/bin/env bash
# The built program against the fake organisation server in another process:
# it starts with a remembered sign-in, restores it, loads the catalogue and
# quits. Read back: the server's request log (order, and the header rules of
# every request) and the program's own log (no secret and no personal data in it).
source "$(dirname "$0")/program_kit.sh"
export KVR_SETTINGS_APP="kvrtest-signin-smoke"
if [ -z "${DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then export QT_QPA_PLATFORM=offscreen; fi
start_server

KVR_API_BASE="http://127.0.0.1:$port" KVR_RTSP_HOST=127.0.0.1 KVR_RTSP_PORT=9 "$exe" >"$work/out.txt" 2>&1 &
app_pid=$!
# The demo organisation has four recorders: the catalogue is in once all four
# recorders' channels were asked for.
for _ in $(seq 1 200); do
  [ "$(grep -c '"path":"/v2/get_channels_by_device/"' "$work/requests.jsonl" 2>/dev/null)" = "4" ] && break
  kill -0 "$app_pid" 2>/dev/null || fail "the program exited early"
  sleep 0.1
done
sleep 0.5
kill -TERM "$app_pid"; wait "$app_pid" 2>/dev/null; app_pid=""

"$python" - "$work/requests.jsonl" "$XDG_STATE_HOME/Kavira/kvr.log" "$token" <<'PY' || fail "see above"
import json, sys
requests = [json.loads(l) for l in open(sys.argv[1]) if l.strip()]
log = open(sys.argv[2], encoding="utf-8", errors="replace").read()
remembered = sys.argv[3]
paths = [r["path"] for r in requests]
problems = []
expected = ["/v2/token/refresh/", "/v2/auth/me/", "/v2/organisations/list/", "/v2/get_sites_by_org_string",
            "/v2/get_devices_by_site/", "/v2/get_channels_by_device/"]
positions = [paths.index(p) if p in paths else -1 for p in expected]
if -1 in positions:
    problems.append("missing requests: %s" % [p for p, i in zip(expected, positions) if i < 0])
elif positions != sorted(positions):
    problems.append("out of order: %s" % paths)
if "/v2/login/" in paths:
    problems.append("signed in with a password instead of the remembered sign-in")
secrets = {remembered}
for r in requests:
    h = {k.lower(): v for k, v in r["headers"].items()}
    p = r["path"]
    secret, auth = h.get("x-spa-secret", ""), h.get("authorization", "")
    if secret:
        secrets.add(secret)
    if auth.startswith("Bearer "):
        secrets.add(auth[7:])
    if p in ("/v2/login/", "/v2/token/refresh/"):
        if not secret or auth:
            problems.append("%s %s: wrong credentials for a sign-in step" % (r["method"], p))
    elif p.startswith("/v2/"):
        if not auth.startswith("Bearer ") or len(auth) < 20 or secret:
            problems.append("%s %s: wrong credentials for an API call" % (r["method"], p))
for s in secrets:
    if s and s in log:
        problems.append("a secret in kvr.log: %s…" % s[:12])
# Nor what the server says of the person: the log goes out with support requests.
for personal in ("demo.verma@example.org", "Verma", "+91 98xxxxx210"):
    if personal in log:
        problems.append("personal data in kvr.log: %s" % personal)
if "Kavira started" not in log:
    problems.append("no start banner in kvr.log")
for p in problems:
    print("  " + p)
sys.exit(1 if problems else 0)
PY
echo "1 passed, 0 failed"
