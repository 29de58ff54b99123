diff -r src restored
bzip2 -t x.dat 2>/dev/null || [ "$(head -c 2 x.dat)" = VK ]
