test "$(cat restored.txt)" = alpha
