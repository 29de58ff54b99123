#!/bin/sh
# The compression tool that Varkel runs from its start directory:
#   tool -z [-f] FILE   writes FILE.bz2, the bzip2 form of FILE
#   tool -d [-f] FILE   writes FILE.out, the data of the bzip2 file FILE
# It streams FILE into exactly that one result file, whatever FILE is named
# (its name never reaches the compressor, so it cannot be read as options),
# and creates, replaces or removes no other file: FILE stays as it is. A
# result name that is already taken is not written over. The exit status is
# the compressor's; on failure the result may be partial (Varkel removes it).
#
# The compressor is lbzip2 (standard bzip2 data, all cores), else bzip2,
# looked for in the system's directories first, then in the absolute entries
# of PATH. Their option variables from the caller's environment are dropped:
# they would turn the command into another one.
unset LBZIP2 BZIP2 BZIP
VARKEL_TOOL_DIRECTORIES="/usr/bin /bin /usr/local/bin"

mode=
file=
for argument in "$@"; do
    case "$argument" in
        -z) mode=compress ;;
        -d) mode=decompress ;;
        -f) ;;
        *) file=$argument ;;
    esac
done
if [ -z "$mode" ] || [ -z "$file" ]; then
    echo "usage: $0 -z|-d [-f] FILE" >&2
    exit 2
fi

find_compressor() {
    old_ifs=$IFS
    IFS=:
    # shellcheck disable=SC2086
    set -- $PATH
    IFS=$old_ifs
    for name in lbzip2 bzip2; do
        for directory in $VARKEL_TOOL_DIRECTORIES "$@"; do
            case "$directory" in
                /*) ;;
                *) continue ;;  # empty or relative: the current directory is no place to look
            esac
            if [ -x "$directory/$name" ] && [ ! -d "$directory/$name" ]; then
                echo "$directory/$name"
                return 0
            fi
        done
    done
    return 1
}

compressor=$(find_compressor) || {
    echo "$0: neither lbzip2 nor bzip2 is installed" >&2
    exit 127
}

set -C  # the result is created new, never written over an existing file
if [ "$mode" = compress ]; then
    exec "$compressor" -z -c <"$file" >"$file.bz2"
fi
exec "$compressor" -d -c <"$file" >"$file.out"
