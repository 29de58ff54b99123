bash "$CASE_DIR/../../../fixtures/sample_archive.sh"
bzip2 x.dat && mv x.dat.bz2 x.dat
