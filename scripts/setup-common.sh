# What the set-up scripts share; sourced with "me" set to the script's name
# and the script's arguments passed on:
#   me=NAME; source "$(dirname "$0")/setup-common.sh" "$@"
# Every failure ends the script with one line saying what failed and what to
# do; --dry-run makes "act" only say what it would do.
set -Eeuo pipefail

say() { echo "$me: $*"; }
fail() {
  echo "$me: $*" >&2
  exit 1
}
trap 'fail "\"$BASH_COMMAND\" failed (exit $?, line $LINENO); fix that and run scripts/install-deps.sh again"' ERR

dry_run=0
case ${1:-} in
--dry-run) dry_run=1 ;;
'') ;;
*) fail "unknown argument '$1'; usage: $me [--dry-run]" ;;
esac

# Runs a command, or in a dry run only says it would.
act() {
  if [ $dry_run = 1 ]; then
    say "would: $*"
  else
    "$@"
  fi
}
