# A pattern with a separator sees the path below the directory ADDDIR
# names, whatever the stored names become.
expected_off='           1  s.txt
           1  top.txt
2 files, 2 bytes'
expected_on='           1  data\other\s.txt
           1  data\top.txt
2 files, 2 bytes'
[ "$("$VARKEL" -t off.vka)" = "$expected_off" ] || { "$VARKEL" -t off.vka; exit 1; }
[ "$("$VARKEL" -t on.vka)" = "$expected_on" ] || { "$VARKEL" -t on.vka; exit 1; }
