echo a > a.txt && echo b > b.txt
