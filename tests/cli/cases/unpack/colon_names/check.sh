# Every file came back under its own name.
set -e
test "$(cat x)" = one
test "$(cat 'c:x')" = two
test "$(cat 'dir:')" = three
