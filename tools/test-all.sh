#!/bin/sh
# The whole test suite on a fresh Debian 12 machine: packages, configure, build, tests;
# then the non-GUI tests again under AddressSanitizer + UndefinedBehaviorSanitizer.
set -eu
cd "$(dirname "$0")/.."
tools/setup-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNOVALINE_SANITIZE=ON \
  -DNOVALINE_WINTOOLS=OFF -DNOVALINE_BENCH=OFF
cmake --build build-asan --target nongui-tests
echo "== sanitizers build: non-GUI tests =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  tools/run-tests.sh build-asan -L nongui
echo "== full suite =="
tools/run-tests.sh build
