# An archive cut inside the data of its second file.
le32() { printf "\\x$(printf %02x "$1")\\x00\\x00\\x00"; }
{ printf 'VK1\0'; le32 0; le32 2
  le32 5; le32 9; printf 'whole.txt12345'
  le32 10; le32 9; printf 'start.txtabcd'
} > cut.dat
