set -e
test "$(cat restored/deep/a.txt)" = alpha
test -f x.dat
