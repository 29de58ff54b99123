# Names extended by their exact form: program form, a NUL (written @ here),
# the exact name. "a\b" is one file beside the directory "a" holding "b";
# "x\y" is a directory.
le32() { printf "\\x$(printf %02x "$1")\\x00\\x00\\x00"; }
record() { le32 "${#2}"; le32 "${#1}"; printf '%s' "$1$2" | tr @ '\0'; }
{ printf 'VK1\0'; le32 0; le32 3
  record 'a\b' 'one directory'
  record 'a\b@a\b' 'backslash inside'
  record 'x\y\c@x\y/c' 'in x\y'
} > x.dat
