# Listing and testing leave the folder as it was: the archive alone.
test "$(ls -A)" = x.dat
