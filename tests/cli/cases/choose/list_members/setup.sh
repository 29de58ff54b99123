bash "$CASE_DIR/../../../fixtures/tree_archive.sh"
