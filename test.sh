#!/usr/bin/env bash
# Installs what is missing, checks that the sources follow .clang-format, builds every test with
# AddressSanitizer and UndefinedBehaviorSanitizer into build-test/, and runs them all. Exits
# non-zero on a failure.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh
tools/check-format.sh
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
      -DPELFRY_SANITIZE=ON -DPELFRY_WERROR=ON -DPELFRY_TESTS=ON -DPELFRY_BENCH=ON >/dev/null
cmake --build build-test -j"$(nproc)"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export LSAN_OPTIONS="suppressions=$PWD/tools/lsan.supp:print_suppressions=0"
cd build-test
ctest --output-on-failure -j"$(nproc)"
