# Linux names with a colon, packed by the program itself, beside the names a
# drive prefix would leave of them.
mkdir src
printf one > src/x
printf two > 'src/c:x'
printf three > 'src/dir:'
printf 'CHDIR_IN=src\nADDDIR=src\nPACK=packed.dat\n' > job.vkjob
"$VARKEL" job.vkjob > /dev/null
rm -r src job.vkjob
