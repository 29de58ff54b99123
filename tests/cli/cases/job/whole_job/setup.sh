mkdir -p data/photos out
head -c 300 /dev/zero | tr '\0' a > data/photos/a.jpg
head -c 100 /dev/zero | tr '\0' b > data/photos/b.jpg
head -c 200 /dev/zero | tr '\0' c > data/photos/c.jpg
cat > job.vkjob <<JOB
CHDIR_IN=$PWD/data
CHDIR_OUT=$PWD/out
ADDDIR=$PWD/data/photos
OPTIMIZE=SIZE
PACK=backup.dat
JOB
