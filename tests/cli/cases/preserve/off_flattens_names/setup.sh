mkdir -p data/sub && echo 1 > data/top.txt && echo 2 > data/sub/deep.txt
