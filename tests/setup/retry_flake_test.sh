#!/usr/bin/env bash
# What the test run does after a failure (scripts/retry-cmd64-flake.sh), on a
# made-up CTest project whose tests fail the way each case says: only a
# labelled test that failed with Wine's 64-bit cmd message for a program in
# the Windows folder runs once more, and the log says so.
set -u
script=$(cd "$(dirname "$0")/../../scripts" && pwd)/retry-cmd64-flake.sh
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failures=0

flake="Can't recognize '\"C:\\windows\\System32\\regsvr32.exe\" /s \"C:\\K\\x64\\KestorPr.dll\"' as an internal or external command, or batch script."
# A real fault of a script, in the same words: a folder name cut at "(x86)".
broken="Can't recognize 'x86' as an internal or external command, or batch script."
printf '%s\n' "$flake" >"$root/flake.txt"
printf '%s\n' "$broken" >"$root/broken.txt"

# Each made-up test: its label, what it prints when it fails and how many of
# its runs fail (first, or all).
cat >"$root/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.20)
project(made_up NONE)
enable_testing()
foreach(name labelled_flake labelled_flake_again labelled_broken unlabelled_flake)
  add_test(NAME ${name} COMMAND sh ${CMAKE_SOURCE_DIR}/case.sh ${name})
  if(name MATCHES "^labelled")
    set_tests_properties(${name} PROPERTIES LABELS wine64_cmd)
  endif()
endforeach()
EOF
cat >"$root/case.sh" <<EOF
#!/bin/sh
runs=\$(cat "$root/\$1.runs" 2>/dev/null || echo 0)
echo \$((runs + 1)) >"$root/\$1.runs"
case \$1 in
  *flake) [ "\$runs" = 0 ] || exit 0; cat "$root/flake.txt"; exit 1 ;;
  *flake_again) cat "$root/flake.txt"; exit 1 ;;
  *broken) [ "\$runs" = 0 ] || exit 0; cat "$root/broken.txt"; exit 1 ;;
esac
EOF
if ! cmake -S "$root" -B "$root/build" >/dev/null; then
  echo "FAIL: the made-up project does not configure"
  exit 1
fi

# check TESTS(regex) EXIT(0|nonzero) RETRIED(names, or -) RUNS(name=count ...)
check() {
  rm -f "$root"/*.runs
  ctest --test-dir "$root/build" -R "$1" >/dev/null 2>&1
  local output status=0
  output=$(bash "$script" "$root/build" 2>&1) || status=$?
  local why=""
  if [ "$2" = 0 ] && [ $status -ne 0 ]; then
    why="exit $status, expected 0"
  elif [ "$2" != 0 ] && [ $status -eq 0 ]; then
    why="exit 0, expected a failure"
  fi
  local retried
  retried=$(sed -n 's/^RETRY: \([^ ]*\) .*/\1/p' <<<"$output" | tr '\n' ' ')
  [ "${retried% }" = "${3/-/}" ] || why="$why; retried '${retried% }', expected '${3/-/}'"
  local pair
  for pair in $4; do
    [ "$(cat "$root/${pair%=*}.runs" 2>/dev/null || echo 0)" = "${pair#*=}" ] ||
      why="$why; ${pair%=*} ran $(cat "$root/${pair%=*}.runs" 2>/dev/null || echo 0) times"
  done
  if [ -n "$why" ]; then
    echo "FAIL: tests $1: ${why#; }"
    echo "$output" | sed 's/^/    /'
    failures=$((failures + 1))
  fi
}

check '^labelled_flake$' 0 labelled_flake 'labelled_flake=2'
check '^labelled_flake_again$' 1 labelled_flake_again 'labelled_flake_again=2'
check '^unlabelled_flake$' 1 - 'unlabelled_flake=1'
check '^labelled_broken$' 1 - 'labelled_broken=1'
# A failure of its own anywhere: nothing runs again.
check '^(labelled_flake|unlabelled_flake)$' 1 - 'labelled_flake=1 unlabelled_flake=1'

if [ $failures -ne 0 ]; then
  echo "$failures case(s) failed"
  exit 1
fi
echo "all cases passed"
