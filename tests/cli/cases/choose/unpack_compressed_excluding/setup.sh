bash "$CASE_DIR/../../../fixtures/tree_archive.sh"
bzip2 -z x.vka && mv x.vka.bz2 x.vka
