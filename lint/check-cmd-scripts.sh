#!/usr/bin/env bash
# Rejects the %...% expansions that break a Windows command script when the
# expanded text holds the characters of a folder name such as
# "C:\Program Files (x86)\Kestor\":
#   - inside parentheses (a block, a "for" set): the prompt reads the whole
#     block, expansions included, before it runs any of it, so a ")" in the
#     text ends the block early and the prompt rejects it;
#   - on a "call" line: call expands the line a second time, so a "%" in the
#     text is taken for the start of another expansion.
# Which variable holds a path cannot be told from the text, so every
# expansion counts (%NAME%, %~dp0, %1, %*); for-variables (%%F) are expanded
# after the parsing and are fine.
#   check-cmd-expansions.sh FILE_OR_FOLDER...   (a folder: its *.cmd files)
# Prints FILE:LINE: what for each finding; exits 1 if there is any, 2 on
# bad usage or when it finds no script at all.
set -u
files=()
for argument in "$@"; do
  if [ -d "$argument" ]; then
    for file in "$argument"/*.cmd; do
      [ -f "$file" ] && files+=("$file")
    done
  elif [ -f "$argument" ]; then
    files+=("$argument")
  else
    echo "check-cmd-expansions: no such file or folder: $argument" >&2
    exit 2
  fi
done
if [ ${#files[@]} -eq 0 ]; then
  echo "usage: check-cmd-expansions.sh FILE_OR_FOLDER... (found no .cmd file)" >&2
  exit 2
fi

exec awk '
function report(what) {
  printf "%s:%d: %s\n", FILENAME, FNR, what
  findings++
}
FNR == 1 { depth = 0 }
{
  line = $0
  sub(/\r$/, "", line)
  lower = tolower(line)
  n = length(line)
  # Comment lines; a "rem" inside a block is still a comment.
  if (lower ~ /^[ \t@(]*(rem([ \t]|$)|::)/) next
  # Only what follows "call" is expanded twice, not an "if" before it.
  call_at = match(lower, /(^|[ \t@(&|])call[ \t]/) ? RSTART + RLENGTH : n + 2
  quoted = 0
  echo_text = 0   # the rest of an echo outside any block: its parentheses are text
  for (i = 1; i <= n; i++) {
    c = substr(line, i, 1)
    if (c == "%") {
      next_c = substr(line, i + 1, 1)
      if (next_c == "%") { i++; continue }            # %%F or a literal %
      if (next_c ~ /[0-9*]/) { name = "%" next_c; i++ }
      else if (next_c == "~") {                       # %~dp0, %~1
        rest = substr(line, i + 1)
        match(rest, /^~[a-z$:A-Z]*[0-9]/)
        if (RLENGTH < 0) continue
        name = "%" substr(rest, 1, RLENGTH); i += RLENGTH
      } else {
        close_at = index(substr(line, i + 1), "%")
        if (close_at == 0) continue
        name = substr(line, i, close_at + 1); i += close_at
      }
      if (depth > 0) report(name " is expanded inside parentheses")
      else if (i > call_at) report(name " is expanded on a call line")
      continue
    }
    if (c == "\"") { quoted = !quoted; continue }
    if (quoted) continue
    if (c == "^") { i++; continue }
    if (c == "&" || c == "|") { echo_text = 0; continue }
    if (depth == 0 && !echo_text && tolower(substr(line, i)) ~ /^echo[ \t.:]/ &&
        (i == 1 || substr(line, i - 1, 1) ~ /[ \t@(&|]/)) { echo_text = 1; continue }
    if (echo_text) continue
    if (c == "(") depth++
    else if (c == ")" && depth > 0) depth--
  }
}
END { exit findings > 0 }
' "${files[@]}"
