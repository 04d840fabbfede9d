#!/usr/bin/env bash
# The program starts, writes its log banner, shows a window and keeps running
# until it is asked to quit.
set -u
exe="$1"
home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
       XDG_STATE_HOME="$home/.local/state" XDG_CACHE_HOME="$home/.cache"
export KVR_SETTINGS_APP="kvrtest-program" KVR_API_BASE="http://127.0.0.1:9" KVR_RTSP_HOST="127.0.0.1"
if [ -z "${DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  export QT_QPA_PLATFORM=offscreen
fi
"$exe" >"$home/out.txt" 2>&1 &
pid=$!
log="$XDG_STATE_HOME/Kavira/kvr.log"
for _ in $(seq 1 100); do
  [ -s "$log" ] && break
  sleep 0.1
done
sleep 1
if ! kill -0 "$pid" 2>/dev/null; then
  echo "FAIL: the program exited early"; cat "$home/out.txt"; exit 1
fi
kill -TERM "$pid"; wait "$pid" 2>/dev/null
if ! head -n 1 "$log" | grep -Eq '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:.]{12} ---- Kavira started ----$'; then
  echo "FAIL: no start banner in $log"; cat "$home/out.txt"; exit 1
fi
if grep -Eiq 'could not (parse|load)|unknown property|QFont::' "$home/out.txt"; then
  echo "FAIL: warnings at start:"; cat "$home/out.txt"; exit 1
fi
echo "1 passed, 0 failed"
