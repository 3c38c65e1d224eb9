#!/usr/bin/env bash
# fuzz.sh [seconds] [name-filter]: builds every fuzz harness as a libFuzzer
# program (clang, AddressSanitizer, UndefinedBehaviorSanitizer) and runs each
# for the given time (default 60 s) from its seed folders, which it only
# reads. CI only configures this build, as a test; it never runs it. New
# inputs stay in build/fuzz/scratch/; crashes, leaks and timeouts land in
# build/fuzz/findings/ and make the script fail: add such an input to the
# harness's corpus with its fix.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
filter=${2:-}

scripts/install-deps.sh
missing=()
for p in clang libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

CC=clang CXX=clang++ scripts/build.sh build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQ4_FUZZ=ON

mkdir -p build/fuzz/scratch build/fuzz/findings
status=0
while read -r -a line; do
  [ ${#line[@]} -gt 0 ] || continue
  program=${line[0]}
  name=$(basename "$program")
  [[ -z "$filter" || "$name" == *"$filter"* ]] || continue
  work=build/fuzz/scratch/$name
  mkdir -p "$work"
  echo "== $name: ${seconds} s"
  if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      Q4_HOME_DIR="$(mktemp -d)" "$program" -max_total_time="$seconds" -rss_limit_mb=4096 \
      -timeout=20 -print_final_stats=1 -artifact_prefix="build/fuzz/findings/$name-" "$work" "${line[@]:1}" \
      > "build/fuzz/$name.log" 2>&1; then
    echo "   finding: see build/fuzz/$name.log and build/fuzz/findings/"
    status=1
  fi
  grep -E "stat::number_of_executed_units|stat::new_units_added" "build/fuzz/$name.log" | sed 's/^/   /' || true
done < build/fuzz/fuzz_targets.txt
exit $status
