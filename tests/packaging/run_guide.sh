#!/usr/bin/env bash
# Runs the examples of a Markdown guide the way a reader would, and writes the
# guide again with the output that the commands really printed.
#
#   run_guide.sh GUIDE WORK_DIR RESULT
#
# In WORK_DIR, in the order of the guide:
# - a fenced block preceded by the line "<!-- file: NAME -->" is written to
#   the file NAME (relative to the current directory at that point);
# - in a fenced block of type "console", each line that starts with "$ " is a
#   command, run by this shell as typed (so "cd" and "$?" carry over from one
#   command to the next); the other lines of the block are the output it is
#   expected to print, and are replaced in RESULT by what the command printed
#   on standard output and standard error, with a line break added after
#   output that ends without one (as the next prompt would start a new line).
# Every other line is copied unchanged, so GUIDE and RESULT are equal exactly
# when the guide shows the real output. `varkel` is taken from PATH.

if [ "$#" -ne 3 ]; then
    echo "usage: $0 GUIDE WORK_DIR RESULT" >&2
    exit 64
fi
__guide=$(realpath "$1")
__result=$(realpath -m "$3")
cd "$2" || exit 1
: > "$__result" || exit 1

__emit() { printf '%s\n' "$1" >> "$__result"; }

__state='text'      # text | console | file | other
__file=""         # the file that the next fenced block fills
__rc=0
__out=$(mktemp)
trap 'rm -f "$__out"' EXIT

while IFS= read -r __line <&3; do
    case $__state in
    text)
        __emit "$__line"
        if [[ $__line =~ ^'<!-- file: '(.+)' -->'$ ]]; then
            __file=${BASH_REMATCH[1]}
        elif [[ $__line == '```console' ]]; then
            __state='console'
        elif [[ $__line == '```'* ]]; then
            if [ -n "$__file" ]; then
                __state='file'
                : > "$__file"
            else
                __state='other'
            fi
        elif [ -n "$__line" ]; then
            __file=""
        fi
        ;;
    file)
        __emit "$__line"
        if [[ $__line == '```' ]]; then
            __state='text'
            __file=""
        else
            printf '%s\n' "$__line" >> "$__file"
        fi
        ;;
    other)
        __emit "$__line"
        [[ $__line == '```' ]] && __state='text'
        ;;
    console)
        if [[ $__line == '```' ]]; then
            __emit "$__line"
            __state='text'
        elif [[ $__line == '$ '* ]]; then
            __emit "$__line"
            (exit "$__rc")
            eval "${__line#\$ }" > "$__out" 2>&1 < /dev/null
            __rc=$?
            if [ -s "$__out" ]; then
                cat "$__out" >> "$__result"
                [ "$(tail -c 1 "$__out" | od -An -c | tr -d ' ')" = '\n' ] || echo >> "$__result"
            fi
        fi
        ;;
    esac
done 3< "$__guide"
