#!/usr/bin/env bash
# Runs the checker test driver in a throw-away prefix, then reads the --json
# reports it saved with Python's json module:
#   run_checker_test.sh TEMPLATE REPORT_DIR DRIVER [ARGS...]
set -u
here=$(cd "$(dirname "$0")" && pwd)
template=$1
reports=$2
shift 2
rm -rf "$reports"
mkdir -p "$reports"
# The driver sees the Unix root as drive Z:.
export KESTOR_CHECK_REPORTS="Z:${reports//\//\\}"
"$here/../../cmake/scratch-prefix.sh" "$template" "$@" || exit $?
python3 "$here/check_json.py" "$reports"
