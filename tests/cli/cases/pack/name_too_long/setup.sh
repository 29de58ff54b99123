# Twenty directory levels of 200 bytes and a file name of 250 bytes: a stored
# name of 4270 bytes. Made level by level, as no single path may be that long.
mkdir deep && echo first > deep/a.txt && echo last > deep/z.txt
level="$(printf 'd%.0s' $(seq 200))"
name="$(printf 'f%.0s' $(seq 250))"
(cd deep && for _ in $(seq 20); do mkdir "$level" && cd "$level"; done && echo deep > "$name")
