#!/usr/bin/env bash
# Installs a build into a staging prefix, checks the installed layout, and
# runs a compressed round trip through <prefix>/bin/varkel from a directory
# that is neither the build nor the prefix.
#   install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(realpath "$1")
source=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

echo "== cmake --install $build --prefix <staging>"
cmake --install "$build" --prefix "$prefix"

echo "== Layout"
[ -x "$prefix/lib/varkel/varkel" ] || fail "lib/varkel/varkel missing or not executable"
[ -x "$prefix/lib/varkel/bzip2-102-x86-win32.exe" ] || fail "compression tool missing beside the program"
[ -L "$prefix/bin/varkel" ] || fail "bin/varkel is not a link"
[ "$(readlink "$prefix/bin/varkel")" = "../lib/varkel/varkel" ] || fail "bin/varkel is not the relative link ../lib/varkel/varkel"
on_path=$(find "$prefix/bin" -mindepth 1 -printf '%f ')
[ "$on_path" = "varkel " ] || fail "bin holds more than varkel: $on_path"
gzip -t "$prefix/share/man/man1/varkel.1.gz" || fail "manual page missing or damaged"
for f in share/doc/varkel/job-language.md share/doc/varkel/examples/script.txt \
         share/vim/vimfiles/ftdetect/varkel.vim share/vim/vimfiles/syntax/vkjob.vim \
         share/bash-completion/completions/varkel; do
    [ -f "$prefix/$f" ] || fail "$f missing"
done
[ ! -e "$prefix/share/doc/varkel/examples/.gitignore" ] || fail ".gitignore installed"

echo "== varkel -about"
about=$("$prefix/bin/varkel" -about </dev/null) || fail "-about exited with $?"
grep -qF 'Varkel  0.60 beta' <<<"$about" || fail "-about shows no product line"
grep -qF '[ OK ]' <<<"$about" || fail "-about shows no OK button"

echo "== Compressed round trip"
job="$work/job"
mkdir -p "$job/tree/empty dir" "$job/tree/with blank"
cp -R "$source/src" "$job/tree/src"
cp "$prefix/lib/varkel/varkel" "$job/tree/program.bin"
: > "$job/tree/with blank/empty file"
head -c 200000 /dev/urandom > "$job/tree/with blank/random data"
rmdir "$job/tree/empty dir"   # the format stores files only
printf '%s\n' 'CHDIR_OUT=out' 'COMPRESS=ON' 'ADDDIR=tree' 'PACK=tree.vka' > "$job/pack.vkjob"
printf '%s\n' 'COMPRESS=ON' 'CHDIR_IN=out' 'CHDIR_OUT=restored' 'UNPACK=tree.vka' > "$job/unpack.vkjob"
mkdir "$job/out"
cd "$job"

# Packed by the bare name from PATH, unpacked through the link's full path.
status=0
PATH="$prefix/bin:$PATH" varkel pack.vkjob > pack.log || status=$?
cat pack.log
[ "$status" -eq 0 ] || fail "packing exited with $status"
! grep -q 'Error' pack.log || fail "packing reported an error"
[ "$(head -c 3 out/tree.vka)" = "BZh" ] || fail "the archive is not bzip2 data"
bzip2 -t out/tree.vka || fail "the compressed archive does not pass bzip2 -t"

status=0
"$prefix/bin/varkel" unpack.vkjob > unpack.log || status=$?
cat unpack.log
echo
[ "$status" -eq 0 ] || fail "unpacking exited with $status"
! grep -q 'Error' unpack.log || fail "unpacking reported an error"

diff -r tree restored/tree || fail "the restored tree differs"
echo "round trip of $(find tree -type f | wc -l) files: identical"
