# Nothing was made.
test "$(ls)" = zeros.dat
