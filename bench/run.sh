#!/usr/bin/env bash
# Benchmark: Varkel against tar and against the copy limit, on trees of this
# machine, in one run.
#
#   bench/run.sh            the full benchmark (about ten minutes on two cores)
#   bench/run.sh --smoke    tiny trees and one round: shows that every command
#                           of the benchmark works and that what it unpacks is
#                           what it packed (well under a minute; no time is judged)
#
# It builds a release binary, makes its trees, then runs each comparison as
# rounds in which the Varkel command and its peer take turns (the order
# swaps every round; a first round warms the caches and is not counted).
# It prints one table: for each comparison the median over the rounds of the
# ratio varkel / peer, with the median times of both beside it, and the peak
# memory of packing one 1 GiB file and of packing a million small files.
#
# The trees, made once and kept for the next run:
#   include  a copy of /usr/include (files only: links and the directories
#            left empty without them are left out)
#   small    40,000 files of a few dozen bytes, in 200 directories
#   big      four files of 256 MiB
#   huge     one file of 1 GiB, for the memory figure
#   million  1,000,000 files of 0 to 99 bytes in 1,000 directories (its
#            comparisons run fewer rounds: each run takes many seconds)
#
# Environment:
#   VARKEL_BENCH_DIR     scratch directory (default /tmp/varkel-bench, or
#                        /tmp/varkel-bench-smoke with --smoke); it must not
#                        contain blanks, commas, '=' or parentheses, which
#                        end a word in a job script
#   VARKEL_BENCH_ROUNDS  counted rounds per comparison (default 7; smoke 1)
#   VARKEL_BENCH_MILLION_ROUNDS  the same for the million-file tree (default 1)
#   VARKEL_BENCH_BUILD   build directory (default build-bench in the repository)
#   VARKEL_BENCH_ONLY    an extended regular expression: only the comparisons
#                        whose label matches it run (for example 'pack small')
#
# Unpacked trees are moved aside instead of deleted between runs and removed
# at the end: after tens of thousands of files are deleted, creating files is
# slow for a while on some file systems (ext4 without a journal passes over
# every inode freed in the last seconds when it allocates one), and that would
# be measured instead of the programs. Each run starts after a sync, which
# also ends that while for files deleted before it by anyone. The million-file
# tree is unpacked five times (a warm-up round, a counted one and the check):
# five million inodes until the end, when deleting them takes minutes.
set -euo pipefail
export LC_ALL=C

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
smoke=0
case "${1:-}" in
    --smoke) smoke=1 ;;
    "") ;;
    *) echo "usage: bench/run.sh [--smoke]" >&2; exit 2 ;;
esac

if [ "$smoke" = 1 ]; then
    work="${VARKEL_BENCH_DIR:-/tmp/varkel-bench-smoke}"
    rounds="${VARKEL_BENCH_ROUNDS:-1}"
    million_rounds="${VARKEL_BENCH_MILLION_ROUNDS:-1}"
    warmup=0
else
    work="${VARKEL_BENCH_DIR:-/tmp/varkel-bench}"
    rounds="${VARKEL_BENCH_ROUNDS:-7}"
    million_rounds="${VARKEL_BENCH_MILLION_ROUNDS:-1}"
    warmup=1
fi
build="${VARKEL_BENCH_BUILD:-$root/build-bench}"
case "$work" in
    *[[:space:],=\(\)\"]*) echo "bench: VARKEL_BENCH_DIR must not contain blanks, ',', '=', '(', ')' or '\"'" >&2; exit 2 ;;
esac

say() { printf '%s\n' "$*" >&2; }
only="${VARKEL_BENCH_ONLY:-}"
wanted() { [ -z "$only" ] || [[ "$1" =~ $only ]]; }

# ---- Tools and build ---------------------------------------------------------

bash "$root/scripts/setup.sh" >&2
for tool in time:/usr/bin/time; do
    package="${tool%%:*}"
    if [ ! -x "${tool#*:}" ]; then
        say "Installing missing package: $package"
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$package" </dev/null >&2 ||
            { apt-get update -q >&2 && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$package" </dev/null >&2; }
    fi
done

say "== Building a release binary in $build"
generator=()
[ -f "$build/CMakeCache.txt" ] || generator=(-G Ninja)
cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release >&2
cmake --build "$build" --target varkel compression_tool --parallel "$(nproc)" >&2
varkel="$build/varkel"
[ -x "$varkel" ] || { say "bench: no program at $varkel"; exit 1; }

# ---- Trees -------------------------------------------------------------------

trees="$work/trees"
jobs="$work/jobs"
out="$work/out"          # archives written by the pack comparisons
archives="$work/archives" # archives read by the unpack comparisons
dest="$work/dest"        # where each unpack goes: empty before every run
grave="$work/grave"      # unpacked trees moved aside, removed at the end
mkdir -p "$trees" "$jobs" "$out" "$archives" "$grave"
rm -rf "$dest" "$out"/* "$archives"/* "$grave"/*

if [ "$smoke" = 1 ]; then
    small_dirs=20; small_files=20; big_count=4; big_mib=1; huge_mib=64
    million_dirs=10; million_files=100
else
    small_dirs=200; small_files=200; big_count=4; big_mib=256; huge_mib=1024
    million_dirs=1000; million_files=1000
fi

# make_small_files DIR DIRS FILES MIN SPAN SEED: DIRS directories of FILES
# files each, of MIN to MIN + SPAN - 1 bytes (sizes spread by a generator
# seeded with SEED, so that sorting by size has work): a line of text, its
# last byte a line break, or nothing at all for a size of 0.
make_small_files() {
    awk -v base="$1" -v dirs="$2" -v files="$3" -v min="$4" -v span="$5" -v seed="$6" 'BEGIN {
        for (d = 0; d < dirs; d++) {
            dir = sprintf("%s/d%03d", base, d)
            system("mkdir -p " dir)
            for (f = 0; f < files; f++) {
                seed = (seed * 1103515245 + 12345) % 2147483648
                length_wanted = min + seed % span
                text = sprintf("file %d of directory %d: ", f, d)
                while (length(text) < length_wanted - 1) text = text "x"
                name = sprintf("%s/f%05d.txt", dir, f)
                if (length_wanted == 0) printf "" > name
                else print substr(text, 1, length_wanted - 1) > name
                close(name)
            }
        }
    }'
}

make_trees() {
    local stamp="$trees/.made-$smoke"
    [ -f "$stamp" ] && return
    say "== Making the trees in $trees"
    rm -rf "$trees"/include "$trees"/small "$trees"/big "$trees"/huge
    if [ "$smoke" = 1 ]; then
        mkdir -p "$trees/include"
        cp -R /usr/include/linux "$trees/include/"
    else
        cp -R /usr/include "$trees/include"
    fi
    # An archive holds files, not links nor empty directories: leave them out
    # of the tree, so that an unpacked tree can be compared with it.
    find "$trees/include" ! -type d ! -type f -delete
    find "$trees/include" -depth -type d -empty -delete

    # Files of 20 to 80 bytes, sizes spread so that sorting by size has work.
    make_small_files "$trees/small" "$small_dirs" "$small_files" 20 61 12345

    mkdir -p "$trees/big" "$trees/huge"
    local i
    for ((i = 1; i <= big_count; i++)); do
        head -c "$((big_mib * 1024 * 1024))" /dev/urandom > "$trees/big/part$i.bin"
    done
    head -c "$((huge_mib * 1024 * 1024))" /dev/urandom > "$trees/huge/one.bin"
    sync
    touch "$stamp"
}

# The million-file tree, made apart (it takes a minute or two) and kept.
make_million_tree() {
    local stamp="$trees/.made-million-$smoke"
    [ -f "$stamp" ] && return
    say "== Making the tree of $((million_dirs * million_files)) files in $trees/million"
    rm -rf "$trees/million"
    make_small_files "$trees/million" "$million_dirs" "$million_files" 0 100 54321
    sync
    touch "$stamp"
}
make_trees
make_million_tree
# Whatever was deleted above (or by others just before) is settled first.
sync
[ "$smoke" = 1 ] || sleep 6

count_files() { find "$1" -type f | wc -l; }
tree_bytes() { du -sb --apparent-size "$1" | cut -f1; }

# ---- Jobs --------------------------------------------------------------------

write_job() {  # NAME LINE...
    local name="$1"
    shift
    printf '%s\n' "$@" > "$jobs/$name.vkjob"
}

for tree in include small big huge million; do
    write_job "pack-$tree" "CHDIR_IN=$trees" "CHDIR_OUT=$out" "ADDDIR=$trees/$tree" "PACK=$tree.vka"
    write_job "unpack-$tree" "CHDIR_IN=$archives" "CHDIR_OUT=$dest" "UNPACK=$tree.vka"
done
write_job "pack-small-sorted" "CHDIR_IN=$trees" "CHDIR_OUT=$out" "ADDDIR=$trees/small" \
    "OPTIMIZE=SIZE" "PACK=small-sorted.vka"
write_job "cpack-include" "CHDIR_IN=$trees" "CHDIR_OUT=$out" "ADDDIR=$trees/include" \
    "COMPRESS=ON" "PACK=include.vkz"
mkdir -p "$work/compressed"
write_job "cunpack-include" "CHDIR_IN=$work/compressed" "CHDIR_OUT=$dest" "COMPRESS=ON" \
    "UNPACK=include.vkz"

run_varkel() {  # JOB
    "$varkel" "$jobs/$1.vkjob" > "$work/varkel.log" ||
        { say "bench: varkel $1 failed with status $?; its output:"; cat "$work/varkel.log" >&2; exit 1; }
}

# ---- Commands under comparison ---------------------------------------------------

# Each command is a shell function; so is its preparation, which is not timed.
v_pack() { run_varkel "pack-$1"; }
t_pack() { tar -cf "$out/$1.tar" -C "$trees" "$1"; }
c_pack() { (cd "$trees" && find "$1" -type f -print0 | xargs -0 cat > "$out/$1.cat"); }
v_unpack() { run_varkel "unpack-$1"; }
t_unpack() { tar -xf "$archives/$1.tar" -C "$dest"; }
v_sorted() { run_varkel "pack-small-sorted"; }
v_cpack() { run_varkel "cpack-include"; }
t_cpack() { tar -cjf "$out/include.tar.bz2" -C "$trees" include; }
v_cunpack() { run_varkel "cunpack-include"; }
t_cunpack() { tar -xjf "$archives/include.tar.bz2" -C "$dest"; }

grave_count=0
# Packs: no old output in the way, and nothing from the last run still to be
# written back to disk.
prep_pack() { rm -f "$out"/*; sync; }
# Unpacks: an empty output directory. The last one's files are moved aside,
# except the few large ones of the big tree: kept, they would fill the page
# cache, and the next runs would pay for making room.
prep_unpack() {
    if [ "${1:-}" = big ]; then
        rm -rf "$dest"
    elif [ -e "$dest" ]; then
        grave_count=$((grave_count + 1))
        mv "$dest" "$grave/$grave_count"
    fi
    mkdir -p "$dest"
    sync
}
# The compressed unpack decompresses its archive in place: a fresh copy each time.
prep_cunpack() { cp "$archives/include.vkz" "$work/compressed/include.vkz"; prep_unpack; }

# ---- Measuring -------------------------------------------------------------------

now_us() { local t="$EPOCHREALTIME"; echo "${t/./}"; }

# Median of the numbers given, one per argument.
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
    if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

results="$work/results.txt"
: > "$results"

# compare LABEL PEER_LABEL GOAL PREP_V CMD_V PREP_P CMD_P [ARG]
# Times CMD_V (Varkel) and CMD_P (its peer) in alternating rounds and records
# one row of the table; GOAL is the largest ratio that meets the goal, or -.
compare() {
    local label="$1" peer="$2" goal="$3" prep_v="$4" cmd_v="$5" prep_p="$6" cmd_p="$7" arg="${8:-}"
    local round order start end
    local -a times_v=() times_p=() ratios=()
    say "== $label: varkel against $peer ($warmup+$rounds rounds)"
    for ((round = 0; round < warmup + rounds; round++)); do
        local tv tp
        if ((round % 2 == 0)); then order="v p"; else order="p v"; fi
        for who in $order; do
            if [ "$who" = v ]; then
                $prep_v "$arg"; start=$(now_us); $cmd_v "$arg"; end=$(now_us); tv=$((end - start))
            else
                $prep_p "$arg"; start=$(now_us); $cmd_p "$arg"; end=$(now_us); tp=$((end - start))
            fi
        done
        if ((round >= warmup)); then
            times_v+=("$(awk -v t="$tv" 'BEGIN { printf "%.4f", t / 1e6 }')")
            times_p+=("$(awk -v t="$tp" 'BEGIN { printf "%.4f", t / 1e6 }')")
            ratios+=("$(awk -v a="$tv" -v b="$tp" 'BEGIN { printf "%.4f", a / b }')")
        fi
        say "   round $round: varkel $(awk -v t="$tv" 'BEGIN { printf "%.3f", t / 1e6 }') s, $peer $(awk -v t="$tp" 'BEGIN { printf "%.3f", t / 1e6 }') s$( ((round < warmup)) && echo ' (warm-up)')"
    done
    local med_v med_p med_r met
    med_v=$(median "${times_v[@]}")
    med_p=$(median "${times_p[@]}")
    med_r=$(median "${ratios[@]}")
    if [ "$goal" = - ] || [ "$smoke" = 1 ]; then
        met=-
    elif awk -v r="$med_r" -v g="$goal" 'BEGIN { exit !(r <= g) }'; then
        met=yes
    else
        met=NO
    fi
    printf '| %s | %.3f s | %s | %.3f s | %.2f | %s | %s |\n' \
        "$label" "$med_v" "$peer" "$med_p" "$med_r" "$( [ "$goal" = - ] && echo - || echo "≤ $goal")" "$met" \
        >> "$results"
}

# Unpacks once more with Varkel and compares the result with the source tree.
verify_unpack() {  # TREE PREP CMD SOURCE
    local tree="$1" prep="$2" cmd="$3" source="$4"
    $prep "$tree"
    $cmd "$tree"
    if ! diff -rq "$source" "$dest/$(basename "$source")" > "$work/diff.txt"; then
        say "bench: the unpacked $tree tree differs from its source:"
        head -20 "$work/diff.txt" >&2
        exit 1
    fi
    say "   checked: the unpacked $tree tree equals its source"
}

# ---- The run -------------------------------------------------------------------

say "== Machine"
{
    echo "date:       $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "cores:      $(nproc)"
    echo "cpu:        $(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)"
    echo "memory:     $(awk '/^MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)"
    echo "kernel:     $(uname -r)"
    echo "scratch fs: $(findmnt -no FSTYPE,OPTIONS -T "$work" | head -1)"
    echo "tar:        $(tar --version | head -1)"
    echo "bzip2:      $(bzip2 --help 2>&1 | head -1)"
    echo "lbzip2:     $(lbzip2 --version 2>&1 | head -1)"
    echo "load:       $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the start"
    echo "trees:      include $(count_files "$trees/include") files $(( $(tree_bytes "$trees/include") / 1048576 )) MiB;" \
        "small $(count_files "$trees/small") files; big $(count_files "$trees/big") x $big_mib MiB;" \
        "huge 1 x $huge_mib MiB; million $(count_files "$trees/million") files $(( $(tree_bytes "$trees/million") / 1048576 )) MiB"
    echo "rounds:     $rounds counted per comparison ($million_rounds for the million files), after $warmup warm-up"
} > "$work/machine.txt"
cat "$work/machine.txt" >&2

for tree in include small big; do
    if wanted "pack $tree"; then
        compare "pack $tree" "tar -cf" 0.7 prep_pack v_pack prep_pack t_pack "$tree"
        compare "pack $tree" "copy limit" 0.9 prep_pack v_pack prep_pack c_pack "$tree"
    fi
done
if wanted "pack million"; then
    (rounds=$million_rounds; compare "pack million" "tar -cf" 1.0 prep_pack v_pack prep_pack t_pack million)
fi

# unpack_comparison TREE GOAL ROUNDS
unpack_comparison() {
    local tree="$1" goal="$2" rounds="$3"
    # The archives to unpack: Varkel's own and tar's, each made once.
    prep_pack; v_pack "$tree"; mv "$out/$tree.vka" "$archives/"
    t_pack "$tree"; mv "$out/$tree.tar" "$archives/"
    compare "unpack $tree" "tar -xf" "$goal" prep_unpack v_unpack prep_unpack t_unpack "$tree"
    verify_unpack "$tree" prep_unpack v_unpack "$trees/$tree"
    rm -f "$archives/$tree.vka" "$archives/$tree.tar"
}
for tree in include small big; do
    if wanted "unpack $tree"; then unpack_comparison "$tree" 0.8 "$rounds"; fi
done
if wanted "unpack million"; then
    unpack_comparison million 1.0 "$million_rounds"
fi

if wanted "pack include, compressed"; then
    compare "pack include, compressed" "tar -cjf" 0.45 prep_pack v_cpack prep_pack t_cpack include
fi
if wanted "unpack include, compressed"; then
    prep_pack; v_cpack; mv "$out/include.vkz" "$archives/"
    t_cpack; mv "$out/include.tar.bz2" "$archives/"
    compare "unpack include, compressed" "tar -xjf" 0.6 prep_cunpack v_cunpack prep_unpack t_cunpack include
    verify_unpack include prep_cunpack v_cunpack "$trees/include"
fi

if wanted "pack small, OPTIMIZE=SIZE"; then
    compare "pack small, OPTIMIZE=SIZE" "same job unsorted" 1.2 prep_pack v_sorted prep_pack v_pack small
fi

# peak_memory LABEL JOB GOAL_MIB: one more pack, its maximum resident size.
peak_memory() {
    local label="$1" job="$2" goal_mib="$3" peak_kib met
    say "== Peak memory: $label"
    prep_pack
    /usr/bin/time -f '%M' -o "$work/memory.txt" "$varkel" "$jobs/$job.vkjob" > "$work/varkel.log"
    peak_kib=$(tail -1 "$work/memory.txt")
    met=$(awk -v k="$peak_kib" -v g="$goal_mib" 'BEGIN { print (k <= g * 1024) ? "yes" : "NO" }')
    [ "$smoke" = 1 ] && met=-
    printf '| peak memory, %s | %.1f MiB | - | - | - | ≤ %s MiB | %s |\n' \
        "$label" "$(awk -v k="$peak_kib" 'BEGIN { print k / 1024 }')" "$goal_mib" "$met" >> "$results"
}
if wanted "peak memory"; then
    peak_memory "pack $huge_mib MiB file" pack-huge 16
    peak_memory "pack $(count_files "$trees/million") files" pack-million 64
fi

echo "load at the end: $(cut -d' ' -f1-3 /proc/loadavg)" >> "$work/machine.txt"

# ---- The table -------------------------------------------------------------------

table="$(
    cat "$work/machine.txt"
    echo
    echo "| comparison | varkel (median) | peer | peer (median) | varkel / peer (median of rounds) | goal | met |"
    echo "|---|---|---|---|---|---|---|"
    cat "$results"
)"

say "== Cleaning up"
rm -rf "$out"/* "$archives"/* "$work/compressed" "$dest" "$grave"
if [ "$smoke" = 1 ]; then rm -rf "$work"; fi
sync  # so that what was deleted stops slowing file creation soon

echo
echo "$table"
if [ "$smoke" = 1 ]; then
    echo
    echo "Smoke run: tiny trees and $rounds round(s). The figures mean nothing; the run shows that every command worked and that every unpacked tree equals its source."
fi
