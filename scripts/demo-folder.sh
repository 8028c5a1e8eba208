# Sourced by demo.sh. The demo empties its install folder before each run,
# as root, so it must never empty a folder that it did not make: a folder
# it makes carries the mark file below, and an existing folder is taken
# only when it is empty or carries that mark.
#
#   fresh_demo_folder DIR   leaves DIR empty but for the mark and returns 0,
#                           or says why not on standard error and returns 1
#                           with DIR untouched.
demo_folder_mark=.made-by-kestor-demo

fresh_demo_folder() {
  local dir=$1
  if [ -z "$dir" ]; then
    echo "demo.sh: no install folder named" >&2
    return 1
  fi
  if [ -e "$dir" ] || [ -L "$dir" ]; then
    if [ ! -d "$dir" ]; then
      echo "demo.sh: $dir is not a folder; name a new or empty folder in KESTOR_INSTALL_DIR" >&2
      return 1
    fi
    if [ -f "$dir/$demo_folder_mark" ]; then
      rm -rf -- "$dir"
    elif [ -n "$(ls -A -- "$dir")" ]; then
      echo "demo.sh: $dir is not empty and was not made by this demo, so it is left" \
        "as it is; name a new or empty folder in KESTOR_INSTALL_DIR" >&2
      return 1
    fi
  fi
  mkdir -p -- "$dir" && : >"$dir/$demo_folder_mark"
}
