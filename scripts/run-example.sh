#!/usr/bin/env bash
# Installs what is missing, builds Varkel into "build" (or $VARKEL_BUILD_DIR)
# and runs it in examples/ on the example job.
#   scripts/run-example.sh [VARKEL_ARGUMENTS...]
# Without arguments the program runs examples/script.txt, its default job;
# with arguments it is started with them instead (for example a .vkjob file
# of examples/ or an archive to unpack).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${VARKEL_BUILD_DIR:-build}"
case "$build_dir" in
    /*) ;;
    *) build_dir="$root/$build_dir" ;;
esac
bash "$root/scripts/build.sh" "$build_dir"

program="$build_dir/varkel"
if [ ! -x "$program" ]; then
    echo "Built the libraries; the program $program does not exist yet, so there is no job to run."
    exit 0
fi
if [ "$#" -eq 0 ] && [ ! -f "$root/examples/script.txt" ]; then
    echo "Built $program; examples/ holds no script.txt yet, so there is no job to run."
    exit 0
fi

cd "$root/examples"
echo "Running varkel $* in examples/:"
status=0
"$program" "$@" </dev/null || status=$?
echo
echo "varkel exited with status $status."
exit "$status"
