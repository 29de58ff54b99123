#!/usr/bin/env bash
# Builds the Debian package and checks it.
#   scripts/package.sh [BUILD_DIR]
# BUILD_DIR defaults to "build" in the repository; it is configured and built
# first when needed (scripts/build.sh), then cpack writes
# BUILD_DIR/varkel_<version>_<arch>.deb. The script lists the package and
# checks its fields and contents. With CI=true it also installs the package
# with apt-get, runs the installed varkel, finds its manual page, runs the
# examples of the user guide and the README with it, and removes the package
# again; a developer's machine is never changed.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${1:-build}"
case "$build_dir" in
    /*) ;;
    *) build_dir="$root/$build_dir" ;;
esac

fail() {
    echo "package: FAIL: $*" >&2
    exit 1
}

bash "$root/scripts/build.sh" "$build_dir"
if grep -q '^VARKEL_SANITIZE:BOOL=ON' "$build_dir/CMakeCache.txt"; then
    fail "$build_dir is a sanitizer build; package a plain one"
fi

echo "== cpack -G DEB in $build_dir"
rm -f "$build_dir"/varkel_*.deb
(cd "$build_dir" && cpack -G DEB)

arch=$(dpkg --print-architecture)
debs=("$build_dir"/varkel_*_"$arch".deb)
if [ "${#debs[@]}" -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    fail "cpack made no single varkel_*_$arch.deb"
fi
deb=${debs[0]}
echo "== $(basename "$deb")"

version=$(dpkg-deb -f "$deb" Version)
[ "$(basename "$deb")" = "varkel_${version}_${arch}.deb" ] || fail "file name does not follow the version $version"
[[ $version =~ ^[0-9]+\.[0-9]+(~[a-z0-9]+)?$ ]] || fail "unexpected version $version"

echo "== dpkg-deb --info"
dpkg-deb --info "$deb"
[ "$(dpkg-deb -f "$deb" Package)" = varkel ] || fail "package name is not varkel"
[ "$(dpkg-deb -f "$deb" Section)" = utils ] || fail "section is not utils"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no maintainer"
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *"lbzip2 | bzip2"* ]] || fail "Depends lacks 'lbzip2 | bzip2': $depends"

echo "== dpkg-deb --contents"
listing=$(dpkg-deb --contents "$deb")
printf '%s\n' "$listing"
paths=$(awk '{print $6}' <<<"$listing")
for path in \
    ./usr/lib/varkel/varkel \
    ./usr/lib/varkel/bzip2-102-x86-win32.exe \
    ./usr/bin/varkel \
    ./usr/share/man/man1/varkel.1.gz \
    ./usr/share/doc/varkel/job-language.md \
    ./usr/share/doc/varkel/examples/script.txt \
    ./usr/share/doc/varkel/examples/pack-docs.vkjob \
    ./usr/share/doc/varkel/examples/unpack-docs.vkjob \
    ./usr/share/vim/vimfiles/ftdetect/varkel.vim \
    ./usr/share/vim/vimfiles/syntax/vkjob.vim \
    ./usr/share/bash-completion/completions/varkel; do
    grep -qxF -e "$path" <<<"$paths" || fail "the package lacks $path"
done
grep -qE '^l.* \./usr/bin/varkel -> \.\./lib/varkel/varkel$' <<<"$listing" \
    || fail "./usr/bin/varkel is not the link ../lib/varkel/varkel"
grep -qE '^-rwxr-xr-x .* \./usr/lib/varkel/bzip2-102-x86-win32\.exe$' <<<"$listing" \
    || fail "the compression tool is not executable"
echo "package contents complete"

if [ "${CI:-}" != true ]; then
    echo "== Not installing the package (CI is not true)"
    exit 0
fi

echo "== apt-get install ./$(basename "$deb")"
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -q --no-install-recommends "$deb" </dev/null
trap 'apt-get remove -y -q varkel </dev/null >/dev/null || true' EXIT

echo "== varkel -about"
[ "$(command -v varkel)" = /usr/bin/varkel ] || fail "varkel on PATH is $(command -v varkel)"
varkel -about </dev/null

echo "== man -w varkel"
man -w varkel

echo "== The examples of the guide and the README with the installed varkel"
work=$(mktemp -d)
for document in docs/job-language.md README.md; do
    name=$(basename "$document")
    mkdir "$work/reader-$name"
    bash "$root/tests/packaging/run_guide.sh" "$root/$document" \
        "$work/reader-$name" "$work/$name"
    diff -u "$root/$document" "$work/$name" \
        || fail "the examples of $document print something else with the installed varkel"
done
rm -rf "$work"
echo "installed package works"
