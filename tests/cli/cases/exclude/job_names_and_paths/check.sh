# By name (files and whole directories), by path relative to the ADDDIR
# directory ('/' and '\'), letter case kept; then a cleared list.
expected_a='           1  Main.O
           1  keep.txt
           1  src\b.c
3 files, 3 bytes'
expected_b='           1  Main.O
           1  keep.txt
           1  main.o
3 files, 3 bytes'
[ "$("$VARKEL" -t a.vka)" = "$expected_a" ] || { "$VARKEL" -t a.vka; exit 1; }
[ "$("$VARKEL" -t b.vka)" = "$expected_b" ] || { "$VARKEL" -t b.vka; exit 1; }
