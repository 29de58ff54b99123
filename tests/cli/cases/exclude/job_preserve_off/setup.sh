mkdir -p base/data/sub/deeper base/data/other
printf 1 > base/data/top.txt && printf 2 > base/data/sub/s.txt && printf 3 > base/data/sub/deeper/d.txt
printf 4 > base/data/other/s.txt
