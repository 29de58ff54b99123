#!/usr/bin/env bash
# Writes the committed seed corpus of the fuzz targets into corpus/<target>/.
# Each seed is named after what it is; rerun after adding a case here. Inputs
# that libFuzzer found crashing are added beside them as regression-* files
# by scripts/fuzz.sh and are not touched here.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/corpus"

# Little-endian 32-bit integer, as the archive stores it.
le32() {
    local v=$(( $1 & 0xFFFFFFFF ))
    printf "\\x$(printf %02x $((v & 255)))\\x$(printf %02x $(((v >> 8) & 255)))"
    printf "\\x$(printf %02x $(((v >> 16) & 255)))\\x$(printf %02x $(((v >> 24) & 255)))"
}
header() { printf 'VK1\0'; le32 0; le32 "$1"; }
# record NAME DATA: a well-formed record.
record() { le32 "${#2}"; le32 "${#1}"; printf '%s' "$1$2"; }
# exact_record PROGRAM EXACT DATA: a record whose name is extended by its
# exact form (program form, a NUL, the exact name).
exact_record() {
    le32 "${#3}"; le32 $(( ${#1} + 1 + ${#2} )); printf '%s\0%s%s' "$1" "$2" "$3"
}
seed() { cat >"$1"; }

# ---- reader: valid archives ----
header 0 | seed reader/valid-empty-list
{ header 1; record a.txt abc; } | seed reader/valid-one-file
{ header 4; record 'sub\deeper\f.txt' hello; record 'sub/other.txt' x; record empty ''
  record 'with blank.txt' 'blank'; } | seed reader/valid-tree
{ header 2; record '' 'no name'; record b.txt b; } | seed reader/valid-empty-name
{ header 3; record one 1; record two 22; } | seed reader/valid-fewer-records-than-counted
{ header 0; record ignored data; } | seed reader/valid-zero-count-with-records
{ header 1; le32 70000; le32 3; printf big; head -c 70000 /dev/zero | tr '\0' 'z'; } |
    seed reader/valid-over-one-buffer
{ header 3; record 'a\b' 'in a'; exact_record 'a\b' 'a\b' 'backslash'
  exact_record 'x\y\c' 'x\y/c' 'in x\y'; } | seed reader/valid-exact-names
# ---- reader: each malformed kind ----
header 1 | head -c 11 | seed reader/bad-short-header
{ printf '\xff\xd8\xff\xe0'; le32 0; le32 1; record a.txt abc; } | seed reader/bad-not-an-archive
{ header 2; record good.txt good; le32 3; printf '\x05\x00'; } | seed reader/bad-cut-entry-header
{ header 1; le32 3; le32 5; printf 'a.t'; } | seed reader/bad-cut-name
{ header 1; le32 10; le32 5; printf 'a.txtabc'; } | seed reader/bad-cut-data
{ header 1; le32 3; le32 -1; printf abc; } | seed reader/bad-negative-name-length
{ header 1; le32 0; le32 16385; head -c 16385 /dev/zero | tr '\0' n; } | seed reader/bad-name-too-long
{ header 1; le32 -1; le32 5; printf a.txt; } | seed reader/bad-negative-data-size
{ header 1; le32 2147483647; le32 1; printf 'ahuge'; } | seed reader/bad-data-size-past-end
{ header 1; le32 1; le32 10; printf 'c.txt\0junkC'; } | seed reader/bad-nul-in-name
{ header 2; record good.txt good; exact_record 'a\b' 'a/c' x; } | seed reader/bad-exact-name-mismatch
{ header 1; le32 1; le32 9; printf 'a\\b\0a'; } | seed reader/bad-cut-exact-name
{ header 2; record one.bin 1; record 'one.bin\inside.txt' 2; } | seed reader/bad-file-under-a-file
{ header 2; record 'dir\' x; record 'dir' y; } | seed reader/bad-name-is-a-directory
# ---- reader: hostile names ----
n=0
for name in '..\sentinel' '../sentinel' 'sub\..\..\sentinel' 'sub/..\../sentinel' '..' 'sub\..' \
    'a\..' '\sentinel' '/tmp/sentinel' 'C:\sentinel' 'C:sentinel' 'c:/x/../../sentinel' \
    '\\server\share\f' '/d:/x/f' '...\a..b' './../sentinel' '.\.\f' '//' '\' 'C:' \
    '../../../../../../../../tmp/escape' 'C:..\sentinel' 'c:/..'; do
    n=$((n + 1))
    { header 2; record "$name" evil; record after.txt fine; } | seed "reader/hostile-$n"
done
# Exact forms: the same rules apply to them as to the program form.
for pair in '..\x|../x' '..\x|..\x' 's\..\..\x|s/../..\x' '\\a\b|//a\b' 'C:\..\x|C:/../x'; do
    n=$((n + 1))
    { header 2; exact_record "${pair%%|*}" "${pair#*|}" evil; record after.txt fine; } |
        seed "reader/hostile-$n"
done

# Attribute text after the exact form (program form, NUL, exact form, NUL, text).
attr_record() {
    le32 "${#4}"; le32 $(( ${#1} + 1 + ${#2} + 1 + ${#3} )); printf '%s\0%s\0%s%s' "$1" "$2" "$3" "$4"
}
{ header 5; attr_record 'd\' 'd/' 'mode=750 mtime=1733900000.123456789 type=dir' ''
  attr_record 'd\run.sh' 'd/run.sh' 'mode=755 mtime=1733900000.5' 'echo'
  attr_record 'd\l' 'd/l' 'mode=777 mtime=1 type=link link=run.sh' ''
  attr_record 'd\a\b' 'd/a\b' 'mode=644 mtime=-1.5 owner=x' 'x'
  attr_record 'd\s' 'd/s' 'mode=777 mtime=1 type=link link=a\sb\\c\n' ''; } |
    seed reader/valid-attributes
{ header 2; attr_record 'l' 'l' 'mode=777 mtime=1 type=link link=../..' ''
  attr_record 'l\f' 'l/f' 'mode=644 mtime=1' 'under a link'; } | seed reader/hostile-file-under-link
{ header 1; attr_record 'archive.vk' 'archive.vk' 'type=link link=x' ''; } |
    seed reader/hostile-link-named-like-archive
{ header 2; attr_record 'f' 'f' 'mode=7777 mtime=100000000000000000000' 'x'
  attr_record 'g' 'g' 'mode=9 mtime=x.y type=odd link=\q junk =' 'y'; } |
    seed reader/bad-attribute-values

# ---- decoder: the reader's archives, decoded in memory ----
mkdir -p decoder
for name in valid-one-file valid-tree valid-exact-names valid-attributes valid-fewer-records-than-counted \
    bad-cut-data bad-cut-name bad-exact-name-mismatch bad-negative-data-size; do
    cp "reader/$name" "decoder/$name"
done
# ---- script: the first byte picks the separator set (even: start-up, odd: default) ----
printf '\0BEGINLIST\r\nPACK=a.pak\r\n' | seed script/crlf-lines
printf '\1PRESERVE_DIRECTORY_TREE = ON\nADDFILE=C:\\My Files\\a.txt' | seed script/default-set
printf '\0ADDFILE(\"C:\\My Files\\a.txt\")\nPRINT=\"Hello, world (1)\"\nX=\"\"\n\"\"abc\nab\"cd\"ef\nX=\"a\"\"b\"\nX=\"abc\n==a==b==\na,b,,c\nf(a)(b)\n   \nA\tB\n' |
    seed script/word-table
printf '\0a\r\r\nb\rc\r' | seed script/carriage-returns
printf '\0' | seed script/empty
{ printf '\0'; printf 'w,%.0s' $(seq 300); } | seed script/many-words
{ printf '\0PRINT='; head -c 2100 /dev/zero | tr '\0' x; printf ',tail'; } | seed script/long-line
printf '\0x\0y\nz' | seed script/nul-in-line

# ---- paths: 8 bytes of start and span, then the text ----
path_seed() { { le32 "$1"; le32 "$2"; printf '%s' "$3"; } | seed "paths/$4"; }
path_seed 0 2 'C:\Program Files\Tool\tool.exe' program-files
path_seed 2 10 'C:\data\archive.tar.gz' tar-gz
path_seed -3 2 'C:\my.dir\file' dotted-dir
path_seed 3 -4 'dir\.hidden' hidden
path_seed 0 -1 '\file.txt' leading-backslash
path_seed 10 1 'C:/dir/file.txt' forward-slashes
path_seed 0 0 'page.php?a=1#x' cut-characters
path_seed 0 0 'a#b.txt' cut-before-dot
path_seed 0 0 'C:\C#\job.vkjob' cut-in-directory
path_seed 0 0 '  a b  ' spaces
path_seed 2147483647 2147483647 'abcdef' overflow-span
path_seed -2147483648 -2147483648 'file.' overflow-start
{ le32 1; le32 3; printf 'ab\0cd\\e.f'; } | seed paths/nul-inside
