#!/usr/bin/env bash
# Rejects what lets a folder's name, or a file someone put beside a shipped
# Windows command script, take the script over:
#   - a program named without its folder ("sc", "find.exe", or a variable
#     that some line sets to such a name), as a command or after "call" or
#     "start": the prompt looks for it in the current folder first, as
#     NAME.com, .exe, .bat or .cmd. Built-ins, labels and paths pass;
#   - a %...% expansion inside parentheses (a block, a "for" set): the
#     prompt reads the whole block, expansions included, before it runs any
#     of it, so a ")" in the text (C:\Program Files (x86)\) ends it early;
#   - a %...% expansion on a "call" line: call expands the line a second
#     time, so a "%" in the text starts another expansion;
#   - a %...% expansion outside double quotes: an "&" in the text runs the
#     rest of the line as a command. A variable that can only hold a word of
#     letters and digits may stand there: one that every line sets with
#     "set /a", or to such letters, digits and other such variables
#     (ERRORLEVEL is one).
# What a variable may hold is read from every "set" in the files checked
# together, so check the scripts that call each other in one run.
# For-variables (%%F) are put in after the line is parsed and are fine.
#   check-cmd-scripts.sh FILE_OR_FOLDER...   (a folder: its *.cmd files)
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
    echo "check-cmd-scripts: no such file or folder: $argument" >&2
    exit 2
  fi
done
if [ ${#files[@]} -eq 0 ]; then
  echo "usage: check-cmd-scripts.sh FILE_OR_FOLDER... (found no .cmd file)" >&2
  exit 2
fi

# Two passes over the files: the first collects what each "set" and each
# "call" of a label puts in, the second checks every command.
exec awk '
BEGIN {
  split("assoc break call cd chdir cls color copy date del dir echo endlocal erase exit for " \
        "ftype goto if md mkdir mklink move path pause popd prompt pushd rd rem ren rename " \
        "rmdir set setlocal shift start time title type ver verify vol", words, " ")
  for (i in words) builtin[words[i]] = 1
}

FNR == 1 {
  depth = 0
  label = ""
  if (pass == 2 && !inferred) { infer(); inferred = 1 }
}

{
  L = $0
  sub(/\r$/, "", L)
  N = length(L)
  P = 1
  if (depth == 0) split("", bound)
  parse_line()
}

END { exit findings > 0 }

function report(what) {
  if (pass != 2) return
  printf "%s:%d: %s\n", FILENAME, FNR, what
  findings++
}

function ch(i) { return substr(L, i, 1) }
function skip_blanks() { while (P <= N && ch(P) ~ /[ \t]/) P++ }
function at_word(word) {
  return tolower(substr(L, P, length(word))) == word && \
         substr(L, P + length(word), 1) ~ /^([ \t(]|)$/
}

# Commands joined by & && | ||, opening and closing blocks, to the line end.
function parse_line(   c) {
  while (P <= N) {
    while (P <= N && ch(P) ~ /[ \t@,;]/) P++
    if (P > N) return
    c = ch(P)
    if (c == "(") { depth++; P++ }
    else if (c == ")") {
      if (depth > 0) depth--
      P++
      skip_blanks()
      if (at_word("else")) P += 4
    } else if (c == "&" || c == "|") P++
    else parse_command()
  }
}

# One command from P. "if" and "for" take their condition or set here; the
# command they run is parsed next, as any other.
function parse_command(   start, word, name, end) {
  start = P
  while (match(substr(L, P), /^[ \t]*[0-9]?(>>?|<)[ \t]*(&[0-9]|"[^"]*"|[^ \t&|<>()"]+)/))
    P += RLENGTH
  skip_blanks()
  if (P > N || ch(P) ~ /[()&|]/) { scan_expansions(start, P, depth, 0); return }
  word = read_word()
  name = tolower(word)
  if (name ~ /^:/ || name == "rem") {                       # a label or a comment
    if (name ~ /^:[^:]/) label = substr(name, 2)
    P = N + 1
    return
  }
  if (name == "if") { parse_if(start); return }
  if (name == "for") { parse_for(start); return }
  end = command_end(P)
  if (name == "call") check_call(end)
  else if (name == "start") check_start(end)
  else if (name == "set" && pass == 1) record_set(substr(L, P, end - P))
  else if (!builtin[name] && name !~ /^echo[.:]/) check_program(word)
  scan_expansions(start, end, depth, name == "call")
  P = end
}

# Up to an unquoted blank or one of & | < > ( ), quoted parts whole.
function read_word(   start, c, quoted) {
  start = P
  for (quoted = 0; P <= N; P++) {
    c = ch(P)
    if (c == "\"") quoted = !quoted
    else if (quoted) continue
    else if (c == "^") P++
    else if (c ~ /[ \t&|<>()]/) break
  }
  return substr(L, start, P - start)
}
function next_word() { skip_blanks(); return read_word() }

# Where the command starting at i ends: an "&" or "|", or inside a block a
# ")".
function command_end(i) {
  i = unquoted_index(i, depth > 0 ? "[&|)]" : "[&|]")
  return i ? i : N + 1
}

# if [/i] [not] errorlevel N | exist X | defined V | A==B | A op B
function parse_if(start,   word, kind, following) {
  word = next_word()
  if (tolower(word) == "/i") word = next_word()
  if (tolower(word) == "not") word = next_word()
  kind = tolower(word)
  if (kind ~ /^(errorlevel|exist|defined|cmdextversion)$/) next_word()
  else if (word ~ /==/) { if (word ~ /==$/) next_word() }
  else {
    following = P
    kind = tolower(next_word())
    if (kind == "==" || kind ~ /^(equ|neq|lss|leq|gtr|geq)$/) next_word()
    else if (kind !~ /^==/) P = following
  }
  scan_expansions(start, P, depth, 0)
}

# for [options] %%V in (set) do: the set is inside parentheses; a "for /f"
# set in single quotes (back quotes with usebackq) is a command line.
function parse_for(start,   open, closing, options, set, quote) {
  open = unquoted_index(P, "[(]")
  closing = open ? unquoted_index(open + 1, "[)]") : 0
  if (!closing) { scan_expansions(start, N + 1, depth, 0); P = N + 1; return }
  scan_expansions(start, open, depth, 0)
  scan_expansions(open + 1, closing, depth + 1, 0)
  options = tolower(substr(L, start, open - start))
  set = substr(L, open + 1, closing - open - 1)
  quote = options ~ /usebackq/ ? "`" : "\047"
  if (options ~ /\/f/ && match(set, "^[ \t]*" quote "[^" quote "]*" quote))
    parse_nested(substr(set, RSTART, RLENGTH))
  if (match(options, /%%[a-z][ \t]+in[ \t]*$/))
    bound[substr(L, start + RSTART + 1, 1)] = options !~ /\/f/ && plain_words(set)
  P = closing + 1
  skip_blanks()
  if (at_word("do")) P += 2
}

# The first character from i on that matches wanted, a class, outside quotes
# and not escaped with "^" (the "&" of ">&2" is no separator); 0 if none.
function unquoted_index(i, wanted,   c, quoted) {
  for (quoted = 0; i <= N; i++) {
    c = ch(i)
    if (c == "\"") quoted = !quoted
    else if (quoted) continue
    else if (c == "^") i++
    else if (c ~ wanted && !(c == "&" && ch(i - 1) ~ /[<>]/)) return i
  }
  return 0
}

# The command line of a "for /f" set, run by a prompt of its own. Its
# expansions were looked at with the set.
function parse_nested(text,   saved_L, saved_N, saved_P, saved_depth) {
  saved_L = L; saved_N = N; saved_P = P; saved_depth = depth
  sub(/^[ \t]*./, "", text)
  L = substr(text, 1, length(text) - 1); N = length(L); P = 1; depth = 0
  nested++
  parse_line()
  nested--
  L = saved_L; N = saved_N; P = saved_P; depth = saved_depth
}

# call :label arguments, or call program arguments. What the calls pass to a
# label is what %1... may hold there.
function check_call(end,   saved, word, callee, n, text) {
  saved = P
  word = next_word()
  if (word !~ /^:/) check_program(word)
  else if (pass == 1) {
    callee = FILENAME ":" tolower(substr(word, 2)) ":"
    for (n = 1; n <= 9; n++) {
      skip_blanks()
      if (P >= end) break
      text = read_word()
      gsub(/"/, "", text)
      if (text ~ /^%%[A-Za-z]$/) text = bound[substr(text, 3)] ? "F" : "%%"
      assigned[callee n] = 1
      values[callee n, ++count[callee n]] = text
    }
  }
  P = saved
}

# start ["title"] [/switch...] program [arguments]
function check_start(end,   saved, word) {
  saved = P
  skip_blanks()
  if (ch(P) == "\"") read_word()
  while (1) {
    skip_blanks()
    if (ch(P) != "/") break
    word = tolower(read_word())
    if (word ~ /^\/(d|node|affinity)$/) next_word()
  }
  skip_blanks()
  if (P < end) check_program(read_word())
  P = saved
}

function check_program(word,   text) {
  text = word
  gsub(/"/, "", text)
  if (text == "" || is_path(text)) return
  if (parse_expansion(text, 1) && X_KIND == "var" && X_LEN == length(text))
    report(X_TEXT " is run as a program, but a line sets it to a name without a folder")
  else report(text " is named without a folder: the prompt tries the current one first")
}

# Text that names a folder: it holds a "\", or starts with the drive and path
# of an argument (%~dp0) or with a variable that always holds a path.
function is_path(text) {
  if (index(text, "\\")) return 1
  if (!parse_expansion(text, 1)) return 0
  if (X_KIND == "arg") return X_TEXT ~ /^%~[a-z$:]*[fp][a-z]*[0-9]$/
  return X_KIND == "var" && X_EDIT == "" && path[X_NAME]
}

# set "NAME=text", set NAME=text, set /a expression, set /p NAME=prompt
function record_set(text,   expression, name, typed, equals) {
  sub(/^[ \t]+/, "", text)
  if (tolower(text) ~ /^\/a/) {
    expression = substr(text, 3)
    gsub(/"/, "", expression)
    while (match(expression, /[A-Za-z_][A-Za-z0-9_]*[ \t]*(<<|>>|[-+*\/%&|^])?=/)) {
      name = substr(expression, RSTART, RLENGTH)
      sub(/[ \t]*(<<|>>|[-+*\/%&|^])?=$/, "", name)
      assigned[tolower(name)] = numeric[tolower(name)] = 1
      expression = substr(expression, RSTART + RLENGTH)
    }
    return
  }
  if (tolower(text) ~ /^\/p/) { typed = 1; text = substr(text, 3); sub(/^[ \t]+/, "", text) }
  if (substr(text, 1, 1) == "\"") { text = substr(text, 2); sub(/"[^"]*$/, "", text) }
  equals = index(text, "=")
  if (equals < 2) return
  name = tolower(substr(text, 1, equals - 1))
  assigned[name] = 1
  if (typed) typing[name] = 1
  else values[name, ++count[name]] = substr(text, equals + 1)
}

# Which variables hold only plain words, and which only paths: start from
# "all of them" and drop each one that a line sets otherwise, until none
# changes (a variable may be set from itself).
function infer(   name, k, changed, value) {
  for (name in assigned) {
    plain[name] = !typing[name]
    path[name] = !typing[name] && !numeric[name]
  }
  do {
    changed = 0
    for (name in assigned) {
      for (k = 1; k <= count[name]; k++) {
        value = values[name, k]
        if (plain[name] && !plain_text(value)) { plain[name] = 0; changed = 1 }
        if (path[name] && value != "" && !is_path(value)) { path[name] = 0; changed = 1 }
      }
    }
  } while (changed)
}

# The words of a "for" set, each plain ("for /l" sets are numbers).
function plain_words(set,   words, n, i) {
  n = split(set, words, /[ \t,;=]+/)
  for (i = 1; i <= n; i++) if (!plain_text(words[i])) return 0
  return 1
}

function plain_text(text,   i, c) {
  for (i = 1; i <= length(text); i++) {
    c = substr(text, i, 1)
    if (c == "%") {
      if (!parse_expansion(text, i) || !plain_expansion()) return 0
      i += X_LEN - 1
    } else if (c !~ /[A-Za-z0-9_.+\\-]/) return 0
  }
  return 1
}

function plain_expansion() {
  if (X_KIND == "arg")
    return X_TEXT ~ /^%~?[1-9]$/ && plain[FILENAME ":" label ":" substr(X_TEXT, length(X_TEXT))]
  if (X_KIND != "var" || (X_EDIT != "" && X_EDIT !~ /^~/)) return 0
  return X_NAME == "errorlevel" && !assigned[X_NAME] ? 1 : plain[X_NAME]
}

# The expansion at text[i], a "%": sets X_LEN (0: none, a lone "%"), X_KIND
# ("for" for %%, "arg" for %1 %~dp0 %*, "var" for %NAME%), X_TEXT, and for
# a variable X_NAME (lower case) and X_EDIT (what follows a ":").
function parse_expansion(text, i,   next_c, rest, closing, inner) {
  X_LEN = 0; X_KIND = ""; X_TEXT = ""; X_NAME = ""; X_EDIT = ""
  next_c = substr(text, i + 1, 1)
  if (next_c == "%") { X_KIND = "for"; X_LEN = 2 }
  else if (next_c ~ /[0-9*]/) { X_KIND = "arg"; X_LEN = 2 }
  else if (next_c == "~") {
    if (!match(substr(text, i + 1), /^~[a-zA-Z$:]*[0-9]/)) return 0
    X_KIND = "arg"; X_LEN = RLENGTH + 1
  } else {
    rest = substr(text, i + 1)
    closing = index(rest, "%")
    if (closing < 2) return 0
    inner = substr(rest, 1, closing - 1)
    X_KIND = "var"; X_LEN = closing + 1
    X_NAME = tolower(inner)
    if (index(inner, ":")) {
      X_NAME = tolower(substr(inner, 1, index(inner, ":") - 1))
      X_EDIT = substr(inner, index(inner, ":") + 1)
    }
  }
  X_TEXT = substr(text, i, X_LEN)
  return X_LEN
}

# Every expansion in L[from, to): d is the depth of parentheses there.
function scan_expansions(from, to, d, on_call_line,   i, c, quoted) {
  if (nested) return
  quoted = 0
  for (i = from; i < to; i++) {
    c = ch(i)
    if (c == "\"") { quoted = !quoted; continue }
    if (c == "^" && !quoted && ch(i + 1) != "%") { i++; continue }
    if (c != "%" || !parse_expansion(L, i)) continue
    i += X_LEN - 1
    if (X_KIND == "for") continue
    if (d > 0) report(X_TEXT " is expanded inside parentheses")
    else if (on_call_line) report(X_TEXT " is expanded on a call line")
    else if (!quoted && !plain_expansion()) report(X_TEXT " is expanded outside quotes")
  }
}
' pass=1 "${files[@]}" pass=2 "${files[@]}"
