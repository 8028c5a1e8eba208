#!/usr/bin/env bash
# The demo's install folder guard (scripts/demo-folder.sh): it empties only a
# folder the demo made, and leaves anyone else's as it found it.
set -u
source "$(dirname "$0")/../../scripts/demo-folder.sh"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failures=0
check() {
  if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}

# Someone's own folder, with a file in it and one below: refused, kept whole.
mkdir -p "$root/own/sub" && echo keep >"$root/own/file" && echo keep >"$root/own/sub/file"
out=$(fresh_demo_folder "$root/own" 2>&1); code=$?
check "foreign folder refused" '[ $code = 1 ] && grep -q "not made by this demo" <<<"$out"'
check "foreign folder kept" \
  '[ "$(cat "$root/own/file" "$root/own/sub/file")" = "keep
keep" ] && [ ! -e "$root/own/$demo_folder_mark" ]'

# A plain file where the folder should be: refused, kept.
echo keep >"$root/plain"
fresh_demo_folder "$root/plain" 2>/dev/null; code=$?
check "plain file refused" '[ $code = 1 ] && [ "$(cat "$root/plain")" = keep ]'

# A new folder is made and marked; the next run empties it.
fresh_demo_folder "$root/new/kestor"; code=$?
check "new folder made and marked" '[ $code = 0 ] && [ -f "$root/new/kestor/$demo_folder_mark" ]'
mkdir "$root/new/kestor/bin" && echo old >"$root/new/kestor/bin/old.exe"
fresh_demo_folder "$root/new/kestor"; code=$?
check "own folder emptied" \
  '[ $code = 0 ] && [ "$(ls -A "$root/new/kestor")" = "$demo_folder_mark" ]'

# An empty folder is taken as it is.
mkdir "$root/empty"
fresh_demo_folder "$root/empty"; code=$?
check "empty folder taken" '[ $code = 0 ] && [ -f "$root/empty/$demo_folder_mark" ]'

[ $failures = 0 ] || { echo "$failures case(s) failed"; exit 1; }
