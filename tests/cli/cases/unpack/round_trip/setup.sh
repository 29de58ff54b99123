mkdir -p "src/a dir/deeper" && printf 'hello' > "src/a dir/deeper/file one.txt" && : > src/empty
head -c 200000 /dev/urandom > src/big.bin
