bash "$CASE_DIR/../../../fixtures/sample_archive.sh"
# One bit flipped in the compressed data: a CRC catches it.
bzip2 x.dat
byte=$(od -An -tu1 -j40 -N1 x.dat.bz2 | tr -d ' ')
printf "\\$(printf %03o $((byte ^ 1)))" | dd of=x.dat.bz2 bs=1 seek=40 conv=notrunc 2>/dev/null
mv x.dat.bz2 x.dat
