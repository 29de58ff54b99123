# An archive header and 8 MB of zeros: a million records without a name.
{ printf 'VK1\0\0\0\0\0\1\0\0\0'; head -c 8000000 /dev/zero; } > zeros.dat
