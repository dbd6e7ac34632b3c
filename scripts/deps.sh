# Sourced by the scripts that build vesk: installs, with apt-get, the Debian
# packages that provide what a script needs and the machine lacks.
#
#   install_missing COMMAND=PACKAGE ... /PATH=PACKAGE ...
#
# A COMMAND is looked up on PATH, a /PATH must exist. Runs apt-get as root,
# through sudo otherwise; without either it names the missing packages and
# returns 1.

# What every build needs (xxHash gives the archives' checksum).
build_tools=(cmake=cmake ninja=ninja-build g++=g++ /usr/include/xxhash.h=libxxhash-dev)

install_missing() {
  local need=() item what
  for item in "$@"; do
    what=${item%%=*}
    case $what in
      /*) [ -e "$what" ] || need+=("${item#*=}") ;;
      *) command -v "$what" >/dev/null || need+=("${item#*=}") ;;
    esac
  done
  [ ${#need[@]} -eq 0 ] && return 0
  local as_root=()
  if [ "$(id -u)" != 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "missing: ${need[*]}; install them as root: apt-get install ${need[*]}" >&2
      return 1
    fi
    as_root=(sudo)
  fi
  echo "installing: ${need[*]}"
  "${as_root[@]}" apt-get update -qq &&
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
}
