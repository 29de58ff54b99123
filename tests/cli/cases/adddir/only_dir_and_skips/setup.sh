mkdir -p data/sub && printf 1 > data/b.txt && printf 22 > data/A.txt && printf 333 > data/sub/c.txt
mkfifo data/fifo && ln -s sub data/link_to_dir && ln -s b.txt data/link_to_file && ln -s gone data/broken
