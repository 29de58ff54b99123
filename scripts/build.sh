#!/usr/bin/env bash
# Installs what is missing, then configures and builds Varkel.
#   scripts/build.sh [BUILD_DIR [CMAKE_ARGUMENTS...]]
# BUILD_DIR defaults to "build" in the repository; further arguments go to the
# configure step (for example -DVARKEL_SANITIZE=ON).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${1:-build}"
shift || true
case "$build_dir" in
    /*) ;;
    *) build_dir="$root/$build_dir" ;;
esac

bash "$root/scripts/setup.sh"

generator=()
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
    generator=(-G Ninja)
fi
cmake -S "$root" -B "$build_dir" "${generator[@]}" "$@"
cmake --build "$build_dir" --parallel "$(nproc)"
