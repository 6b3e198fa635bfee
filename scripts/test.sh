#!/usr/bin/env bash
# Builds everything (Release) and runs every test suite. The reader suite
# (tests/interop) runs when VARN_SACD_READER names an SACD reader program,
# and says it was skipped otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -n "${VARN_SACD_READER:-}" ]; then
  export VARN_SACD_READER
  echo "SACD reader suite: $VARN_SACD_READER"
else
  echo "SACD reader suite: skipped (VARN_SACD_READER is not set; see README)"
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2
