[ "$(cd out && find . -type f | sort | tr '\n' ' ')" = "./docs/a.txt ./src/m.c " ]
