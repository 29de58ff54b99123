# The archive: header with a count of 3, then b, c, a (smallest first).
record() { # size-hex name fill-char count
    printf "\\x$1\\x00\\x00\\x00\\x0c\\x00\\x00\\x00photos\\\\$2"
    head -c "$4" /dev/zero | tr '\0' "$3"
}
{
    printf 'VK1\x00\x00\x00\x00\x00\x03\x00\x00\x00'
    record 64 b.jpg b 100
    record c8 c.jpg c 200
    printf '\x2c\x01\x00\x00\x0c\x00\x00\x00photos\\a.jpg'
    head -c 300 /dev/zero | tr '\0' a
} > expected.dat
cmp expected.dat out/backup.dat
