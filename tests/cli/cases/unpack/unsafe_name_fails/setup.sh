# A stored name that climbs out of the output directory, between two good ones.
le32() { printf "\\x$(printf %02x "$1")\\x00\\x00\\x00"; }
record() { le32 "${#2}"; le32 "${#1}"; printf '%s' "$1$2"; }
mkdir out
{ printf 'VK1\0'; le32 0; le32 3
  record 'first.txt' 'one'
  record '..\escaped.txt' 'evil'
  record 'last.txt' 'three'
} > out/x.dat
