#!/usr/bin/env bash
# The house rules that a compiler does not check, run before the tests (and
# alone by hand): every fails the run with the places that break it.
#
#   format    every C++ source and header is as clang-format writes it
#             (.clang-format at the top); `bash tools/check.sh --fix` rewrites
#             the drifted files in place
#   size      no product file (app, video, wall, server, native) is over 900
#             lines: a file that grows past it is split by concern
#   layers    a product folder includes only its own headers and those of the
#             folders below it on its own branch of the layer tree
#             (ARCHITECTURE.md), and its CMakeLists.txt links only those
#
#   bash tools/check.sh              # all three
#   bash tools/check.sh layers size  # only those
#   bash tools/check.sh --fix        # format the drifted files, then check
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root" || exit 2

fix=false
checks=()
for arg in "$@"; do
  case "$arg" in
    --fix) fix=true ;;
    format | size | layers) checks+=("$arg") ;;
    *) echo "check: unknown check \"$arg\" (format, size, layers, --fix)" >&2; exit 2 ;;
  esac
done
[ ${#checks[@]} -gt 0 ] || checks=(format size layers)

# The files under version control (a clone's build folders hold none of ours).
sources() { git ls-files -- "$@" | grep -E '\.(cpp|h)$'; }
product_folders=(app video wall server native)

# The layer tree, bottom up. Each folder names the folders it may use; the
# ones they use come with them. The two modes stand side by side: nothing of
# native mode uses a server folder, nothing of server mode a native one, and
# only app/startup (which picks the mode) and app (the program) know both.
declare -A uses=(
  [app/core]=""
  [app/ui]="app/core"
  [video]="app/ui"
  [wall]="app/ui"
  [server/api]="app/core"
  [app/context]="server/api"
  [server/view]="app/context video wall"
  [server/shell]="server/view"
  [native/services]="app/core"
  [native/screens]="native/services app/ui"
  [native/live]="native/screens video wall"
  [app/startup]="server/shell native/live"
  [app]="app/startup"
)

# Every folder a folder may use, itself included (the closure of the table).
declare -A allowed=()
reach() {
  local folder="$1" out="$1" next
  for next in ${uses[$folder]}; do
    out+=" $(reach "$next")"
  done
  tr ' ' '\n' <<<"$out" | grep . | sort -u | paste -sd' '
}
for folder in "${!uses[@]}"; do
  allowed[$folder]="$(reach "$folder")"
done

# The layer folder a path belongs to: the deepest folder of the table that
# holds it (app/core/Log.cpp is app/core's, app/main.cpp is app's).
folder_of() {
  local dir
  dir="$(dirname "$1")"
  while [ "$dir" != "." ]; do
    if [ -n "${uses[$dir]+set}" ]; then
      echo "$dir"
      return
    fi
    dir="$(dirname "$dir")"
  done
}

failed=0
fail() {
  echo "$*"
  failed=1
}

check_format() {
  if ! command -v clang-format >/dev/null 2>&1; then
    fail "format: clang-format is missing (bash .ci/install-deps.sh installs it)"
    return
  fi
  local drifted=() f
  # One clang-format a file, as many at once as there are processors; each
  # prints the name of a file it would change.
  mapfile -t drifted < <(sources | xargs -r -P "$(nproc 2>/dev/null || echo 2)" -I{} \
    sh -c 'clang-format --dry-run --Werror "$1" >/dev/null 2>&1 || echo "$1"' _ {} | sort)
  if [ ${#drifted[@]} -gt 0 ] && $fix; then
    clang-format -i "${drifted[@]}"
    echo "format: rewrote ${#drifted[@]} file(s)"
    return
  fi
  for f in "${drifted[@]}"; do
    fail "format: $f is not as clang-format writes it (bash tools/check.sh --fix)"
  done
}

check_size() {
  local f n
  while IFS= read -r f; do
    n=$(wc -l <"$f")
    [ "$n" -le 900 ] || fail "size: $f has $n lines (at most 900: split it by concern)"
  done < <(sources "${product_folders[@]}")
}

check_layers() {
  local f from target to line
  # Includes: a quoted include names a header from the project root.
  while IFS= read -r f; do
    from="$(folder_of "$f")"
    [ -n "$from" ] || continue
    while IFS= read -r line; do
      target="${line#*\"}"
      target="${target%%\"*}"
      to="$(folder_of "$target")"
      # A header beside the file, or a path outside the product (Qt, FFmpeg).
      [ -n "$to" ] || continue
      case " ${allowed[$from]} " in
        *" $to "*) ;;
        *) fail "layers: $f includes \"$target\": $from may use only ${allowed[$from]}" ;;
      esac
    done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]+"' "$f")
  done < <(sources "${product_folders[@]}")

  # Links: each folder's CMakeLists.txt names only libraries of folders it may use.
  declare -A library_folder=()
  local cm name dir
  while IFS= read -r cm; do
    dir="$(dirname "$cm")"
    name="$(grep -oE 'kvr_add_library\([[:space:]]*kvr_[a-z_]+' "$cm" | head -n 1 | sed -E 's/.*\(\s*//')"
    [ -n "$name" ] && library_folder[$name]="$dir"
  done < <(git ls-files -- '*CMakeLists.txt' | grep -E "^($(IFS='|'; echo "${product_folders[*]}"))/")
  local lib
  for name in "${!library_folder[@]}"; do
    from="${library_folder[$name]}"
    cm="$from/CMakeLists.txt"
    for lib in $(tr '\n' ' ' <"$cm" | grep -oE '(kvr_add_library|target_link_libraries)\([^)]*\)' | grep -oE '\bkvr_[a-z_]+' | sort -u); do
      to="${library_folder[$lib]:-}"
      [ -n "$to" ] || continue
      case " ${allowed[$from]} " in
        *" $to "*) ;;
        *) fail "layers: $cm links $lib ($to): $from may use only ${allowed[$from]}" ;;
      esac
    done
  done
}

for check in "${checks[@]}"; do
  "check_$check"
done
if [ "$failed" -ne 0 ]; then
  echo "check: the house rules above are broken"
  exit 1
fi
echo "check: ${checks[*]}: all kept"
