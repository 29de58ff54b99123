# The good files came back; nothing was written beside the output directory.
set -e
test "$(cat out/first.txt)" = one
test "$(cat out/last.txt)" = three
test ! -e escaped.txt
test ! -e out/escaped.txt
