#!/usr/bin/env bash
# Installs every Debian package Vokari needs (only what is missing), then
# configures and builds one tree.
#
#   scripts/setup.sh [--build-dir DIR] [--sanitize] [--release] [--no-build]
#                    [--packages-only] [-- cmake args]
#
# Safe to run again: an installed machine and a configured tree are left as
# they are, and the build only rebuilds what changed.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(dirname "$here")
build_dir="$top/build"
build_type=RelWithDebInfo
sanitize=OFF
do_build=1
packages_only=0
extra=()

while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build_dir=$2; shift 2 ;;
    --sanitize) sanitize=ON; build_type=Debug; shift ;;
    --release) build_type=Release; shift ;;
    --no-build) do_build=0; shift ;;
    --packages-only) packages_only=1; shift ;;
    --) shift; extra=("$@"); break ;;
    *) echo "setup.sh: unknown argument '$1'" >&2; exit 2 ;;
  esac
done

install_packages() {
  local wanted missing=()
  mapfile -t wanted < <(cat "$here"/packages.d/*.txt | grep -v -E '^\s*(#|$)' | sort -u)
  for p in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  # As a user, through sudo; sudo drops the caller's environment, so the
  # non-interactive front end is passed through env on its command line.
  local as_root=(env DEBIAN_FRONTEND=noninteractive)
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
      echo "setup.sh: these Debian packages are missing: ${missing[*]}" >&2
      echo "setup.sh: run this script as root, or install sudo, to install them" >&2
      exit 1
    fi
    as_root=(sudo env DEBIAN_FRONTEND=noninteractive)
  fi
  echo "Installing: ${missing[*]}"
  "${as_root[@]}" apt-get update -q
  "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# The number tests check that a comma-decimal locale changes nothing; it
# has to exist for that.
generate_test_locale() {
  locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$' && return 0
  [ "$(id -u)" -eq 0 ] || return 0
  [ -f /etc/locale.gen ] || return 0
  sed -i 's/^# *\(de_DE\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
}

install_packages
generate_test_locale
[ "$packages_only" -eq 1 ] && exit 0

# Configuring every time is cheap and makes changed flags take effect.
cmake -S "$top" -B "$build_dir" -G Ninja \
  -DCMAKE_BUILD_TYPE="$build_type" -DVOKARI_SANITIZE="$sanitize" "${extra[@]}" >/dev/null
if [ "$do_build" -eq 1 ]; then
  cmake --build "$build_dir"
fi
