#!/usr/bin/env bash
# The demo's first run builds the program and the peers it starts, never the
# test suites or benchmarks, and says what it is doing a line a step. Run on
# a copy of the scripts (so nothing is built: a stand-in for cmake records
# what it is asked and stops the demo at its build) in a folder with no build.
set -u
root="$(cd "$(dirname "$0")/../../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tree/tools" "$work/tree/.ci" "$work/bin"
cp "$root/tools/demo.sh" "$root/tools/build.sh" "$work/tree/tools/"
printf '#!/usr/bin/env bash\nexit 0\n' >"$work/tree/.ci/install-deps.sh" # the packages are not what is tested
cat >"$work/bin/cmake" <<'EOF'
#!/usr/bin/env bash
echo "$*" >>"$KVR_CMAKE_LOG"
case " $* " in *" --build "*) exit 3 ;; esac
exit 0
EOF
chmod +x "$work/bin/cmake"
PATH="$work/bin:$PATH" KVR_CMAKE_LOG="$work/cmake.txt" KVR_DEMO_DIR="$work/demo" \
  timeout 60 bash "$work/tree/tools/demo.sh" >"$work/out.txt" 2>&1 </dev/null
status=$?
problems=()
[ "$status" -ne 0 ] && [ "$status" -ne 124 ] || problems+=("the demo went on past a failed build (status $status)")
builds="$(grep -- '--build' "$work/cmake.txt" 2>/dev/null)"
[ "$(wc -l <<<"$builds")" -eq 1 ] || problems+=("not one build: ${builds:-none}")
[[ "$builds" == *" --target kavira kvr-fake-server kvr-fake-fleet" ]] ||
  problems+=("the build is not of the program and the demo's peers alone: ${builds:-none}")
for said in "demo: building" "build: configuring" "build: building"; do
  grep -q "^$said" "$work/out.txt" || problems+=("no \"$said\" line")
done
if [ ${#problems[@]} -gt 0 ]; then
  printf 'FAIL: %s\n' "${problems[@]}"
  echo "--- what the demo said"
  cat "$work/out.txt"
  exit 1
fi
echo "1 passed, 0 failed"
