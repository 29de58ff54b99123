# Only what was named: a directory with what lies under it, a pattern, a file.
[ "$(find . -type f ! -name x.vka | sort | tr '\n' ' ')" = "./docs/sub/b.txt ./src/m.c ./top.txt " ]
