#!/usr/bin/env bash
# The build's Authenticode signatures, checked with osslsigncode:
# - every program and library of the install folder, both packages and the
#   files inside them verify against the authority of the build's
#   certificate (CA; empty: the system's store), and a changed byte fails;
#   a build without a certificate signs none of them;
# - the signing step in a project of its own: nothing signed without a
#   certificate, a failure fails the build and leaves no file, the
#   time-stamping service is asked, and the password shows in no output.
#
#   signing_test.sh SOURCE_DIR BUILD_DIR SIGNED(0|1) CA [PACKAGE...]
set -u
source_dir=$1 build=$2 signed=$3 ca=$4
shift 4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0 checked=0
fail() {
  echo "FAIL $1"
  [ -z "${2:-}" ] || sed 's/^/     /' "$2"
  failures=$((failures + 1))
}
verifies() { osslsigncode verify ${ca:+-CAfile "$ca"} -in "$1" >"$work/verify.log" 2>&1; }
signature() {
  rm -f "$work/signature" # osslsigncode writes no file that is there already
  osslsigncode extract-signature -in "$1" -out "$work/signature" >/dev/null 2>&1
}

# check_folder FOLDER AT_LEAST: each .exe and .dll in it signed as the build says.
check_folder() {
  local file count=0
  while IFS= read -r -d '' file; do
    count=$((count + 1))
    if [ "$signed" = 1 ]; then
      verifies "$file" || fail "$file does not verify:" "$work/verify.log"
    elif signature "$file"; then
      fail "$file is signed, though the build has no certificate"
    fi
  done < <(find "$1" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0)
  [ $count -ge "$2" ] || fail "$1 holds $count programs, wanted $2 or more"
  checked=$((checked + count))
}
# tampered FILE OFFSET: with the byte at OFFSET changed, FILE no longer verifies.
tampered() {
  cp "$1" "$work/tampered"
  printf Z | dd of="$work/tampered" bs=1 seek="$2" conv=notrunc status=none
  ! verifies "$work/tampered" || fail "$1 still verifies with its byte at $2 changed"
}

cmake --install "$build" --prefix "$work/install" >/dev/null || fail "cmake --install $build"
check_folder "$work/install" 6
for package in "$@"; do
  if [ "$signed" = 1 ]; then
    verifies "$package" || fail "$package does not verify:" "$work/verify.log"
    # A byte of the string table, which the signature covers.
    tampered "$package" "$(grep -abo -m1 'A newer version of Kestor' "$package" | cut -d: -f1)"
  elif signature "$package"; then
    fail "$package is signed, though the build has no certificate"
  fi
  rm -rf "$work/package" && mkdir "$work/package"
  (cd "$work/package" && msiextract "$package" >/dev/null) || fail "msiextract $package"
  check_folder "$work/package" 4
done
program=$work/install/bin/ZovKestor.exe
[ "$signed" = 0 ] || tampered "$program" $(($(stat -c %s "$program") / 2))

# The signing step on a copy of a program, in a project of its own.
osslsigncode remove-signature -in "$work/install/bin/kestor-set.exe" -out "$work/payload.exe" \
  >/dev/null 2>&1 || cp "$work/install/bin/kestor-set.exe" "$work/payload.exe"
bash "$source_dir/scripts/make-test-ca.sh" "$work/ca" >/dev/null
echo 'not the password' >"$work/wrong"
mkdir "$work/project"
cat >"$work/project/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.20)
project(signing_step NONE)
include($source_dir/cmake/Signing.cmake)
add_custom_target(payload ALL COMMAND \${CMAKE_COMMAND} -E copy $work/payload.exe payload.exe)
kestor_sign_after_build(payload FILE \${CMAKE_BINARY_DIR}/payload.exe)
CMAKE
# step NAME BUILD_EXIT(0|1) PAYLOAD(unsigned|signed|absent) CMAKE_ARGS...
step() {
  local dir=$work/step-$1 want=$2 payload=$3 code=0 wrong=
  shift 3
  { cmake -S "$work/project" -B "$dir" -G Ninja "$@" && cmake --build "$dir" -v; } \
    >"$work/step.log" 2>&1 || code=1
  [ $code = "$want" ] || wrong=" build exit $code, wanted $want"
  case $payload in
  unsigned) [ -f "$dir/payload.exe" ] && ! signature "$dir/payload.exe" ;;
  signed) ca=$work/ca/ca.pem verifies "$dir/payload.exe" ;;
  absent) [ ! -e "$dir/payload.exe" ] ;;
  esac || wrong+=" payload not $payload"
  ! grep -qF "$(cat "$work/ca/password")" "$work/step.log" || wrong+=" password in the output"
  [ -z "$wrong" ] || fail "step ${dir##*/step-}:$wrong" "$work/step.log"
}
pfx=-DKESTOR_SIGNING_PFX=$work/ca/signer.pfx
password=-DKESTOR_SIGNING_PASSWORD_FILE=$work/ca/password
step unset 0 unsigned
step signed 0 signed "$pfx" "$password"
step wrong_password 1 absent "$pfx" -DKESTOR_SIGNING_PASSWORD_FILE="$work/wrong"
step time_stamp 1 absent "$pfx" "$password" -DKESTOR_SIGNING_TIMESTAMP_URL=http://127.0.0.1:9/

echo "$checked programs and $# packages checked ($([ "$signed" = 1 ] || echo un)signed build)," \
  "4 signing steps; $failures failure(s)"
[ $failures = 0 ]
