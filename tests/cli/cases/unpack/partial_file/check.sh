# The partial file keeps what the archive held of it.
set -e
test "$(cat whole.txt)" = 12345
test "$(cat start.txt)" = abcd
