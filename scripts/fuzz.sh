#!/usr/bin/env bash
# Builds the libFuzzer targets in tests/fuzz with clang (coverage, ASan and
# UBSan, the library included) in a build folder of their own, and runs each
# target for a bounded time, starting from its seed corpus.
#
#   scripts/fuzz.sh [SECONDS-PER-TARGET [TARGET...]]   (default 20 s, all targets)
#
# ZARN_FUZZ_BUILD names the build folder (default build-fuzz in the checkout).
# New inputs the fuzzer finds collect in BUILD/fuzz-corpus/TARGET; an input
# that breaks a property or crashes is saved as BUILD/fuzz-artifacts/TARGET-*
# and the script fails. The figures of each run are printed at the end.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-20}"
shift || true
build="${ZARN_FUZZ_BUILD:-$root/build-fuzz}"
jobs="$(nproc)"
targets=(fuzz_conversions fuzz_settings fuzz_netlink)
if [ "$#" -gt 0 ]; then targets=("$@"); fi

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZARN_FUZZ=ON -DZARN_SANITIZE=ON -DZARN_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target "${targets[@]}"

# The settings target writes its store (with fdatasync) on every input; on a
# RAM disk that costs nothing, on a real disk it is most of the time.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi
mkdir -p "$build/fuzz-artifacts"
summary=()
total=0
for t in "${targets[@]}"; do
  corpus="$build/fuzz-corpus/$t"
  log="$build/fuzz-$t.log"
  mkdir -p "$corpus"
  echo "== $t: ${seconds} s =="
  started=$(date +%s)
  if ! UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/tests/fuzz/$t" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$build/fuzz-artifacts/$t-" "$corpus" "$root/tests/fuzz/corpus/$t" \
      >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "$t: FAILED, see $log and $build/fuzz-artifacts" >&2
    exit 1
  fi
  elapsed=$(($(date +%s) - started))
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  total=$((total + execs))
  summary+=("$t: $execs executions in $elapsed s, corpus $(find "$corpus" -type f | wc -l) inputs")
done
echo "== fuzzing: every property held =="
printf '%s\n' "${summary[@]}"
echo "total: $total executions on $(nproc) cores"
