# An archive named by its absolute path while the input and output
# directories are set elsewhere: packed, packed over compressed, unpacked
# compressed, and unpacked again as the decompressed archive it became.
mkdir -p in out src
printf 'plain' > src/plain.txt
cat > job.vkjob <<JOB
CHDIR_OUT=out
CHDIR_IN=src
ADDDIR=src
PACK=$PWD/x.dat
COMPRESS=ON
BEGINLIST
ADDDIR=src
PACK=$PWD/x.dat
CHDIR_IN=in
CHDIR_OUT=restored
UNPACK=$PWD/x.dat
COMPRESS=OFF
UNPACK=$PWD/x.dat
JOB
