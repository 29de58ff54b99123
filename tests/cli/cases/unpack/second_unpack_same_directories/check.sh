# Relative input and output directories kept naming the same directories
# after the first unpack entered "out": both archives went there.
set -e
test "$(cat out/a.txt)" = 'from a'
test "$(cat out/b.txt)" = 'from b'
test ! -e out/out
test "$(ls out)" = "$(printf 'a.txt\nb.txt')"
