# The failing source left nothing in the archive: the two others unpack whole.
printf 'VK1\x00\x00\x00\x00\x00\x03\x00\x00\x00\x02\x00\x00\x00\x05\x00\x00\x00a.txta\n\x02\x00\x00\x00\x05\x00\x00\x00b.txtb\n' | cmp - x.dat
[ "$(cat restored/a.txt)" = a ] && [ "$(cat restored/b.txt)" = b ]
[ ! -e restored/cur ]
