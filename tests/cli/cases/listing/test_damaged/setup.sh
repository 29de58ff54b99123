bash "$CASE_DIR/../../../fixtures/sample_archive.sh"
# Cut inside the second record.
head -c 40 x.dat > cut && mv cut x.dat
