# The archive lies where its absolute path says, and came back twice.
set -e
test "$(head -c 2 x.dat)" = VK
test "$(cat restored/plain.txt)" = plain
test -z "$(ls -A in)$(ls -A out)"
