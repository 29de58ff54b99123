#!/usr/bin/env bash
# The manual page: no groff warnings of any kind, and `man -l` renders every
# section and every job keyword.
#   manual_test.sh PAGE
set -euo pipefail

page=$(realpath "$1")

if ! command -v groff >/dev/null 2>&1; then
    echo "groff is not installed: the manual page is not checked"
    exit 77
fi

echo "== groff -man -ww -z"
warnings=$(groff -man -ww -z "$page" 2>&1)
if [ -n "$warnings" ]; then
    printf '%s\n' "$warnings"
    echo "FAIL: groff warns about the manual page" >&2
    exit 1
fi

if ! command -v man >/dev/null 2>&1; then
    echo "man is not installed: rendering not checked"
    exit 0
fi

echo "== man -l"
text=$(MANWIDTH=80 man -l "$page" 2>&1 | col -b)
missing=()
for word in NAME SYNOPSIS DESCRIPTION "COMMAND LINE" "JOB SCRIPTS" "ARCHIVE FORMAT" \
            "EXIT STATUS" FILES "DIFFERENCES FROM THE ORIGINAL WINDOWS PROGRAM" \
            BEGINLIST PRESERVE_DIRECTORY_TREE VERBOSE SILENT ADDFILE ADDDIR ADDONLYDIR \
            CHDIR CHDIR_OUT CHDIR_IN PACK UNPACK COMPRESS OPTIMIZE PRINT EXCLUDE --exclude \
            script.txt bzip2-102-x86-win32.exe -about; do
    grep -qF -e "$word" <<<"$text" || missing+=("$word")
done
if [ "${#missing[@]}" -ne 0 ]; then
    echo "FAIL: the rendered page lacks: ${missing[*]}" >&2
    exit 1
fi
echo "manual page clean and complete"
