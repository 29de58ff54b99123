bash "$CASE_DIR/../../../fixtures/sample_archive.sh"
