#!/usr/bin/env bash
# Installs what building and testing VarnTessel needs on Debian or Ubuntu,
# with apt-get, as root or through sudo. Only what is missing is installed,
# and the script says what that is.
set -euo pipefail

missing=()
# want PACKAGE CHECK...: PACKAGE is needed unless CHECK succeeds.
want() {
  local package=$1
  shift
  "$@" >/dev/null 2>&1 || missing+=("$package")
}

# The build: a C++20 compiler, CMake, Ninja, GoogleTest.
want g++ command -v g++
want cmake command -v cmake
want ninja-build command -v ninja
want libgtest-dev test -e /usr/include/gtest/gtest.h
# The readers the tests check the images with.
want xorriso command -v xorriso
want genisoimage command -v isoinfo
want p7zip-full command -v 7z
want udftools command -v udfinfo
want ffmpeg command -v ffmpeg
# Files tagged by mutagen, as beets and Picard tag them.
want python3-mutagen bash -c "python3 -c 'import mutagen' || /usr/bin/python3 -c 'import mutagen'"
# The independent SACD reader of the reader suite is built from source.
want make command -v make
want gcc command -v gcc
want xz-utils command -v xz

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: everything needed is installed"
  exit 0
fi
echo "setup: installing ${missing[*]}"
if ! command -v apt-get >/dev/null; then
  echo "setup: apt-get not found; install the packages above with your system's package manager" >&2
  exit 1
fi
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "setup: run as root or install sudo to install the packages above" >&2
    exit 1
  fi
  as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
