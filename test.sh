#!/usr/bin/env bash
# Installs what is missing, checks that the sources follow .clang-format, builds every test with
# AddressSanitizer and UndefinedBehaviorSanitizer into build-test/, and runs them all. Exits
# non-zero on a failure.
#
# The test build is made for building quickly: without optimisation (the sanitizers check as
# much, and the optimiser was most of the build's time) and with line tables only for debug
# information (enough for the sanitizers' reports; reconfigure with -g for a debugger), through
# ccache when it is installed. The Release builds (run.sh, tools/package.sh, the Windows
# build) compile with optimisation and the same warnings.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh
tools/check-format.sh
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g1 -O0" "${launcher[@]}" \
      -DPELFRY_SANITIZE=ON -DPELFRY_WERROR=ON -DPELFRY_TESTS=ON -DPELFRY_BENCH=ON >/dev/null
cmake --build build-test -j"$(nproc)"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export LSAN_OPTIONS="suppressions=$PWD/tools/lsan.supp:print_suppressions=0"
cd build-test
ctest --output-on-failure -j"$(nproc)"
