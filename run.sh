#!/usr/bin/env bash
# Installs what is missing, builds Pelfry in Release into build/, and starts the editor.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPELFRY_TESTS=OFF -DPELFRY_BENCH=OFF >/dev/null
cmake --build build -j"$(nproc)"
if [ -x build/bin/pelfry ]; then
  exec build/bin/pelfry "$@"
else
  exec build/bin/pelfry-cli --help
fi
