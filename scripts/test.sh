#!/usr/bin/env bash
# Installs what is missing, builds Varkel and runs the whole test suite.
#   scripts/test.sh [BUILD_DIR [CMAKE_ARGUMENTS...]]
# Same arguments as scripts/build.sh. Fails when any test fails or when no
# test was found.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${1:-build}"
case "$build_dir" in
    /*) ;;
    *) build_dir="$root/$build_dir" ;;
esac

bash "$root/scripts/build.sh" "$@"
ctest --test-dir "$build_dir" --output-on-failure --no-tests=error \
    --parallel "$(nproc)"
