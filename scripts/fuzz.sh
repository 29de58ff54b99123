#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz) with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, fuzzes each target for SECONDS (default 30),
# then replays the committed seed corpus through each target.
#   scripts/fuzz.sh [SECONDS]
# A target that crashes, hangs or breaks one of its invariants fails the run;
# its input is copied into tests/fuzz/corpus/<target>/ as regression-<hash>
# so that, once committed, every later run replays it.
# BUILD_DIR defaults to build-fuzz; inputs found while fuzzing collect in
# BUILD_DIR/corpus/<target> (kept between runs, never committed).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-30}"
build_dir="${BUILD_DIR:-$root/build-fuzz}"
targets=(fuzz_reader fuzz_decoder fuzz_script fuzz_paths)

# clang and its runtime (libFuzzer, the sanitizers), when missing.
missing=()
for package in clang libclang-rt-14-dev; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
if [ "${#missing[@]}" -gt 0 ]; then
    echo "Installing missing packages: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
fi
bash "$root/scripts/setup.sh"  # cmake and ninja

generator=()
[ -f "$build_dir/CMakeCache.txt" ] || generator=(-G Ninja)
CXX=clang++ cmake -S "$root/tests/fuzz" -B "$build_dir" "${generator[@]}" >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)"

# The targets make their scratch files here, so that nothing is left in /tmp
# when a finding stops a target before it can clean up.
export TMPDIR="$build_dir/tmp"
rm -rf "$TMPDIR"
mkdir -p "$TMPDIR"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

declare -A target_failed=()
# Keeps the input that made TARGET fail as a regression case of its corpus.
keep_findings() {
    local target="$1" short="${1#fuzz_}" artifact
    for artifact in "$build_dir/artifacts/$short"/*; do
        [ -f "$artifact" ] || continue
        local kept="$root/tests/fuzz/corpus/$short/regression-$(sha1sum "$artifact" | cut -c1-16)"
        cp "$artifact" "$kept"
        echo "FUZZ FINDING: $target failed on $artifact; kept as ${kept#"$root"/}"
    done
}

for target in "${targets[@]}"; do
    short="${target#fuzz_}"
    seeds="$root/tests/fuzz/corpus/$short"
    work="$build_dir/corpus/$short"
    artifacts="$build_dir/artifacts/$short"
    mkdir -p "$work" "$artifacts"
    rm -f "$artifacts"/*
    echo "== Fuzzing $target for ${seconds}s"
    if ! "$build_dir/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
        -max_len=8192 -print_final_stats=1 -artifact_prefix="$artifacts/" \
        "$work" "$seeds" >"$build_dir/$target.log" 2>&1; then
        tail -n 60 "$build_dir/$target.log"
        keep_findings "$target"
        target_failed[$target]=1
    else
        grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' \
            "$build_dir/$target.log" || true
    fi
done

for target in "${targets[@]}"; do
    short="${target#fuzz_}"
    count="$(find "$root/tests/fuzz/corpus/$short" -type f | wc -l)"
    echo "== Replaying the $count committed inputs of $target"
    artifacts="$build_dir/artifacts/$short"
    if ! "$build_dir/$target" -runs=0 -timeout=10 -artifact_prefix="$artifacts/" \
        "$root/tests/fuzz/corpus/$short" >"$build_dir/$target.replay.log" 2>&1; then
        tail -n 60 "$build_dir/$target.replay.log"
        target_failed[$target]=1
    fi
done

rm -rf "$TMPDIR"
failures="${#target_failed[@]}"
echo "Fuzzed each target for ${seconds}s and replayed its committed corpus."
echo "fuzz: $((${#targets[@]} - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
