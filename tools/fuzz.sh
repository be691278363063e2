#!/usr/bin/env bash
# A fuzzing campaign over every target: builds them with libFuzzer as the README says, runs
# each for SECONDS (default 300) in turn on one core, merges what found new coverage into its
# corpus under fuzz/corpus/NAME (which ctest replays), and prints one line per target:
# executions, coverage, findings. A finding (crash, timeout, out-of-memory) is copied into
# fuzz/findings/ and into the target's corpus, so the replay under ctest fails until it is fixed.
#
#   tools/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
shift || true

missing=()
for p in clang libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
tools/install-deps.sh
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DPELFRY_LIBFUZZER=ON -DPELFRY_SANITIZE=ON \
      -DPELFRY_TESTS=OFF -DPELFRY_GUI=OFF -DPELFRY_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in build-fuzz/bin/fuzz_*; do targets+=("$(basename "$f" | sed 's/^fuzz_//')"); done
fi

mkdir -p fuzz/findings
# The targets write their scratch files under the temporary folder: on tmpfs, a flush is free.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export LSAN_OPTIONS="suppressions=$PWD/tools/lsan.supp:print_suppressions=0"
printf '%-16s %12s %8s %8s %9s %s\n' target executions "cov" "ft" findings "corpus (files)"
status=0
for t in "${targets[@]}"; do
  corpus="fuzz/corpus/$t"
  mkdir -p "$corpus"
  work=$(mktemp -d)
  log="build-fuzz/$t.log"
  before=$(ls fuzz/findings | wc -l)
  # Fuzz into a scratch corpus seeded from the kept one; a finding does not end the run.
  taskset -c 0 "build-fuzz/bin/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
      -artifact_prefix="fuzz/findings/$t-" "$work" "$corpus" >"$log" 2>&1 || true
  # Keep only what adds coverage to the kept corpus.
  "build-fuzz/bin/fuzz_$t" -merge=1 "$corpus" "$work" >"build-fuzz/$t.merge.log" 2>&1 || true
  rm -rf "$work"
  # The fork mode's last progress line: "#EXECS: cov: N ft: N corp: ..."
  last=$(grep -E '^#[0-9]+: cov: ' "$log" | tail -1 || true)
  execs=$(echo "$last" | grep -Eo '^#[0-9]+' | tr -d '#')
  cov=$(echo "$last" | grep -Eo 'cov: [0-9]+' | grep -Eo '[0-9]+')
  ft=$(echo "$last" | grep -Eo 'ft: [0-9]+' | grep -Eo '[0-9]+')
  found=$(( $(ls fuzz/findings | wc -l) - before ))
  for f in $(ls -t fuzz/findings | head -n "$found"); do cp "fuzz/findings/$f" "$corpus/"; done
  [ "$found" = 0 ] || status=1
  printf '%-16s %12s %8s %8s %9s %s\n' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$found" "$(ls "$corpus" | wc -l)"
done
exit $status
