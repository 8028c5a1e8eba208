#!/usr/bin/env bash
# After a ctest run that failed: runs once more the failed tests that failed
# only the way Wine's 64-bit cmd now and then does under load, and nothing
# else. That cmd sometimes cannot start a program that is there: it prints
#   Can't recognize '"C:\windows\System32\regsvr32.exe" /s "..."' as an
#   internal or external command, or batch script.
# and the script goes on with exit code 9009. Only tests labelled
# wine64_cmd (those that run scripts in that cmd) qualify, and only when
# their output shows that message for a program in the Windows folder.
#
#   retry-cmd64-flake.sh BUILD_DIR
#
# Exit 0 when every failed test qualified and passed on its second run;
# otherwise the ctest status of the failure. Each retry is announced with a
# line starting "RETRY:", so that a log shows it.
set -euo pipefail
build=$1
failed_list=$build/Testing/Temporary/LastTestsFailed.log
last_log=$build/Testing/Temporary/LastTest.log
if [ ! -s "$failed_list" ] || [ ! -s "$last_log" ]; then
  exit 1
fi
# Read before ctest runs again: even a listing rewrites the log.
failed=$(cat "$failed_list")
log=$(cat "$last_log")
labelled=$(ctest --test-dir "$build" -N -L '^wine64_cmd$' -FA '.*' |
  sed -n 's/^ *Test *#[0-9]*: //p')

# Whether a test's output in the last run's log shows the flake.
shows_flake() {
  local output
  output=$(awk -v name="$1" '
    $0 ~ "^[0-9]+/[0-9]+ Test: " name "$" { inside = 1; next }
    inside && $0 ~ "^\"" name "\" end time" { inside = 0 }
    inside { print }
  ' <<<"$log")
  grep -qiE "Can't recognize '\"?[A-Z]:\\\\windows\\\\(system32|sysnative|syswow64)\\\\[^\\\\'\"]+\\.exe" \
    <<<"$output"
}

retry=()
while IFS=: read -r _ name; do
  if ! grep -qxF "$name" <<<"$labelled" || ! shows_flake "$name"; then
    echo "$name failed for a reason of its own: no test runs again" >&2
    exit 1
  fi
  retry+=("$name")
done <<<"$failed"

pattern=$(IFS='|'; echo "${retry[*]}")
for name in "${retry[@]}"; do
  echo "RETRY: $name failed only because Wine's 64-bit cmd could not start a program" \
       "that is there (9009); it runs once more"
done
ctest --test-dir "$build" --output-on-failure -R "^($pattern)\$"
