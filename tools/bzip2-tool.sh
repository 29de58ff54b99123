#!/bin/sh
# The compression tool that Varkel runs from its start directory. It hands its
# arguments unchanged to the host's bzip2-compatible compressor: lbzip2 when it
# is installed (standard bzip2 data, all cores), bzip2 otherwise. Both take the
# -z/-d/-f command lines Varkel builds and leave the same result files.
if command -v lbzip2 >/dev/null 2>&1; then
    exec lbzip2 "$@"
fi
exec bzip2 "$@"
