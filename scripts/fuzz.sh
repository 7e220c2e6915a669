#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan + coverage) and runs
# each for the given time, at low priority, one after another.
#
#   scripts/fuzz.sh [seconds per target] [target...]
#
# Targets: pageframe pageloop replies bmp options (all when none is named). Seeds come
# from fuzz/corpus/<target>/; the growing corpus is kept in
# build-fuzz/corpus/<target>/, crashes and leaks in
# build-fuzz/artifacts/<target>/. Extra libFuzzer flags: $VKR_FUZZ_FLAGS.
# VKR_FUZZ_JOBS=N runs N fuzzer processes per target side by side (one per
# core), sharing the corpus, each with its own seed and log.
# A finding ends the script with status 1; reproduce it with
#   build-fuzz/fuzz/fuzz_<target> <artifact file>
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${VKR_FUZZ_BUILD_DIR:-$here/build-fuzz}
seconds=${1:-60}
jobs=${VKR_FUZZ_JOBS:-1}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(pageframe pageloop replies bmp options)

CC=${CC:-clang-14} CXX=${CXX:-clang++-14} cmake -S "$here" -B "$build" \
  -DVKR_BUILD_FUZZ=ON -DVKR_BUILD_TESTS=OFF -DVKR_BUILD_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target $(printf 'fuzz_%s ' "${targets[@]}") >/dev/null

status=0
for t in "${targets[@]}"; do
  corpus=$build/corpus/$t
  artifacts=$build/artifacts/$t
  mkdir -p "$corpus" "$artifacts"
  maxlen=4096
  extra=()
  [[ $t == pageframe ]] && maxlen=2048  # one page header and a line's bytes
  if [[ $t == pageloop ]]; then
    maxlen=16384
    # A page scaled to the whole card costs as much as a hundred small
    # pages: inputs are picked less often the longer they run, so the time
    # goes to the page loop's many cheap paths and the slow ones still run.
    extra=(-entropic_scale_per_exec_time=1)
  fi
  pids=()
  logs=()
  for ((j = 1; j <= jobs; j++)); do
    log=$build/fuzz_$t.log
    ((jobs > 1)) && log=$build/fuzz_$t.$j.log
    logs+=("$log")
    echo "fuzz: $t for ${seconds}s (log $log)"
    # Any one allocation above 1 GiB is a finding (the largest page buffer
    # the filter takes is 256 MiB, so a 2 GiB line is caught); the RSS limit
    # catches memory that grows by small steps.
    nice -n 19 "$build/fuzz/fuzz_$t" "$corpus" "$here/fuzz/corpus/$t" \
      -max_total_time="$seconds" -max_len="$maxlen" -timeout=120 \
      -rss_limit_mb=2560 -malloc_limit_mb=1024 "${extra[@]}" \
      -print_final_stats=1 -artifact_prefix="$artifacts/" ${VKR_FUZZ_FLAGS:-} >"$log" 2>&1 &
    pids+=($!)
  done
  total=0
  for ((j = 0; j < jobs; j++)); do
    log=${logs[j]}
    if ! wait "${pids[j]}"; then
      echo "fuzz: $t FOUND A FAULT; see $log and $artifacts/"
      status=1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
    echo "fuzz: $t ran ${runs:-?} inputs in ${took:-?} s ($log)"
    total=$((total + ${runs:-0}))
  done
  echo "fuzz: $t ran $total inputs in all; corpus $(ls "$corpus" | wc -l) files"
done
exit $status
