# The entry with the long name was left out; the others unpack.
[ "$(cat restored/a.txt)" = first ] && [ "$(cat restored/z.txt)" = last ]
[ "$(ls restored)" = "$(printf 'a.txt\nz.txt')" ]
