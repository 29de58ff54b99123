#!/usr/bin/env bash
# Runs one golden-output case of the command line.
#   run_case.sh PROGRAM CASE_DIR [BUILD_DIR]
#
# A case directory holds:
#   cmd         the arguments, one line as typed in a shell (quotes group,
#               no globbing); may be empty or absent: no arguments
#   stdout.exp  the expected standard output, byte for byte
#   exit.exp    the expected exit status
#   stderr.exp  optional: the expected standard error, byte for byte (not
#               compared when absent)
#   tty         optional: run the program on a pseudo-terminal (script -qc);
#               standard output and standard error then arrive together
#               in stdout.exp, line ends as the terminal gives them (CR LF)
#   setup.sh    optional: run with bash in the scratch directory first
#   check.sh    optional: run with bash in the scratch directory afterwards;
#               must exit 0
#   any other file or directory is copied into the scratch directory.
#
# The program runs in a fresh scratch directory with standard input from
# /dev/null. Before the comparison, the scratch directory and the build
# directory are replaced in its output by @SCRATCH@ and @BUILD@, in the
# program's form (backslashes) and in the host form (slashes). BUILD_DIR
# defaults to the directory of PROGRAM.
#
# setup.sh and check.sh see VARKEL (the program), BUILD_DIR, CASE_DIR and
# SCRATCH in their environment.
#
# With VARKEL_UPDATE_GOLDEN=1 the actual output and status are first written
# to stdout.exp and exit.exp (check every change by hand before committing
# it); check.sh still runs. A failing case keeps its scratch directory.
set -euo pipefail
export LC_ALL=C

if [ "$#" -lt 2 ] || [ "$#" -gt 3 ]; then
    echo "usage: run_case.sh PROGRAM CASE_DIR [BUILD_DIR]" >&2
    exit 2
fi

program="$(realpath "$1")"
case_dir="$(realpath "$2")"
build_dir="$(realpath "${3:-$(dirname "$program")}")"
update="${VARKEL_UPDATE_GOLDEN:-0}"

fail() {
    echo "FAIL: $*"
    exit 1
}

[ -x "$program" ] || fail "no program at $program"
[ -d "$case_dir" ] || fail "no case directory $case_dir"
if [ "$update" != 1 ]; then
    [ -f "$case_dir/stdout.exp" ] || fail "$case_dir has no stdout.exp"
    [ -f "$case_dir/exit.exp" ] || fail "$case_dir has no exit.exp"
fi

scratch="$(mktemp -d "${TMPDIR:-/tmp}/varkel-cli.XXXXXX")"
scratch="$(cd "$scratch" && pwd -P)"
keep_scratch=1
cleanup() {
    if [ "$keep_scratch" = 0 ]; then
        rm -rf "$scratch"
    else
        echo "Scratch directory kept: $scratch"
    fi
}
trap cleanup EXIT

work="$scratch/work"     # where the program runs
meta="$scratch/.results" # what the runner records, outside the work tree
mkdir "$work" "$meta"

shopt -s dotglob nullglob
for entry in "$case_dir"/*; do
    case "$(basename "$entry")" in
        cmd | stdout.exp | stderr.exp | exit.exp | tty | setup.sh | check.sh) ;;
        *) cp -R "$entry" "$work/" ;;
    esac
done
shopt -u dotglob nullglob

export VARKEL="$program" BUILD_DIR="$build_dir" CASE_DIR="$case_dir" SCRATCH="$work"

if [ -f "$case_dir/setup.sh" ]; then
    if ! (cd "$work" && bash "$case_dir/setup.sh") </dev/null >"$meta/setup.out" 2>&1; then
        cat "$meta/setup.out"
        fail "setup.sh failed"
    fi
fi

arguments=()
if [ -f "$case_dir/cmd" ]; then
    line="$(head -n 1 "$case_dir/cmd")"
    set -f
    eval "arguments=( $line )"
    set +f
fi

status=0
if [ -f "$case_dir/tty" ]; then
    quoted="$(printf '%q ' "$program" "${arguments[@]}")"
    (cd "$work" && exec script -qec "$quoted" /dev/null) </dev/null \
        >"$meta/stdout.raw" 2>"$meta/stderr" || status=$?
else
    (cd "$work" && exec "$program" "${arguments[@]}") </dev/null \
        >"$meta/stdout.raw" 2>"$meta/stderr" || status=$?
fi

to_program_form() { printf '%s' "${1//\//\\}"; }
replacements=(
    "$(to_program_form "$work")" @SCRATCH@
    "$work" @SCRATCH@
    "$(to_program_form "$build_dir")" @BUILD@
    "$build_dir" @BUILD@
)
# The longer path first, in case one lies inside the other.
if [ "${#build_dir}" -gt "${#work}" ]; then
    replacements=("${replacements[@]:4}" "${replacements[@]:0:4}")
fi
# Reads a file whole, trailing line breaks included, and puts the tokens in.
with_tokens() {
    local raw
    raw="$(cat "$1"; printf x)"
    raw="${raw%x}"
    for ((i = 0; i < ${#replacements[@]}; i += 2)); do
        raw="${raw//"${replacements[i]}"/"${replacements[i + 1]}"}"
    done
    printf '%s' "$raw"
}
with_tokens "$meta/stdout.raw" >"$meta/stdout.act"
with_tokens "$meta/stderr" >"$meta/stderr.act"

if [ "$update" = 1 ]; then
    cp "$meta/stdout.act" "$case_dir/stdout.exp"
    if [ -s "$meta/stderr.act" ] || [ -f "$case_dir/stderr.exp" ]; then
        cp "$meta/stderr.act" "$case_dir/stderr.exp"
    fi
    echo "$status" >"$case_dir/exit.exp"
    echo "UPDATED: $case_dir (exit status $status); check stdout.exp by hand"
fi

ok=1
if ! cmp -s "$case_dir/stdout.exp" "$meta/stdout.act"; then
    ok=0
    echo "Standard output differs (--- expected, +++ actual):"
    diff -u --label expected --label actual "$case_dir/stdout.exp" "$meta/stdout.act" || true
fi
if [ -f "$case_dir/stderr.exp" ] && ! cmp -s "$case_dir/stderr.exp" "$meta/stderr.act"; then
    ok=0
    echo "Standard error differs (--- expected, +++ actual):"
    diff -u --label expected --label actual "$case_dir/stderr.exp" "$meta/stderr.act" || true
fi

expected_status="$(tr -d '[:space:]' <"$case_dir/exit.exp")"
if [ "$status" != "$expected_status" ]; then
    ok=0
    echo "Exit status: expected $expected_status, got $status"
fi

if [ -f "$case_dir/check.sh" ]; then
    if ! (cd "$work" && bash "$case_dir/check.sh") </dev/null >"$meta/check.out" 2>&1; then
        ok=0
        echo "check.sh failed:"
        cat "$meta/check.out"
    fi
fi

if [ "$ok" = 1 ]; then
    keep_scratch=0
    echo "PASS: $case_dir"
    exit 0
fi
if [ -s "$meta/stderr" ]; then
    echo "Standard error of the program:"
    cat "$meta/stderr"
fi
echo "Command: (cd $work && $program $(head -n 1 "$case_dir/cmd" 2>/dev/null || true))"
fail "$case_dir"
