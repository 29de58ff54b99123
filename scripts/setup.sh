#!/usr/bin/env bash
# Installs what Varkel needs to build and test, on Debian 12, and only what is
# missing: nothing is downloaded when every package is already there.
set -euo pipefail

packages=(
    g++            # the compiler
    cmake          # the build description
    ninja-build    # the build tool
    libgtest-dev   # unit tests
    libbz2-dev     # reading compressed archives in the process (list, test)
    bzip2          # compression tool (fallback) and its self-test
    lbzip2         # compression tool (preferred: all cores)
    groff-base     # manual page check
    man-db         # man -l / man -w in the packaging checks
    dpkg-dev       # the Debian package: dependency list (dpkg-shlibdeps)
    file           # the Debian package: used by the same step
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

if [ "${#missing[@]}" -eq 0 ]; then
    exit 0
fi

echo "Installing missing packages: ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
        as_root=(sudo)
    else
        echo "setup: run as root (or install: ${missing[*]})" >&2
        exit 1
    fi
fi

export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
