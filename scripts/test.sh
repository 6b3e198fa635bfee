#!/usr/bin/env bash
# Builds everything (Release) and runs every test suite. The reader suite
# (tests/interop) runs when VARN_SACD_READER names an SACD reader program,
# and says it was skipped otherwise. Then the robustness suite (and only
# what it needs) is built with AddressSanitizer+UBSan in build-asan and run
# there too; that build is optimised at -O1: it compiles in half the time
# of -O3, and the suite runs no heavy coding.
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

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O1 \
  -DVARN_SANITIZE=ON -DVARN_BUILD_BENCH=OFF
cmake --build build-asan -j2 --target test_robustness
ctest --test-dir build-asan --output-on-failure -R '^robustness$'
