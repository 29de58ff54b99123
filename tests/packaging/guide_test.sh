#!/usr/bin/env bash
# Runs the examples of the user documentation as written, each document in an
# empty directory of its own, with the varkel installed from this build on
# PATH, and compares what they print with what the documents show.
#   guide_test.sh BUILD_DIR DOCUMENT...
# After a change of the program's output, refresh a document from the result
# file this names on failure, and read the difference before committing.
set -euo pipefail

build=$(realpath "$1")
shift
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
prefix="$work/prefix"

cmake --install "$build" --prefix "$prefix" >/dev/null

failed=0
for document in "$@"; do
    document=$(realpath "$document")
    name=$(basename "$document")
    mkdir "$work/reader-$name"
    PATH="$prefix/bin:$PATH" bash "$here/run_guide.sh" "$document" \
        "$work/reader-$name" "$work/$name"
    if diff -u "$document" "$work/$name"; then
        echo "$name: every example prints what it shows"
    else
        echo "FAIL: the examples of $name print something else; as run: $work/$name" >&2
        failed=1
    fi
done
[ "$failed" -eq 0 ] && rm -rf "$work"
exit "$failed"
