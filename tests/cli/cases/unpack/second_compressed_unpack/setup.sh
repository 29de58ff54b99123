# Two compressed archives in "in", packed by the program itself.
mkdir -p in src/a src/b
printf 'from a' > src/a/a.txt
printf 'from b' > src/b/b.txt
printf 'COMPRESS=ON\nCHDIR_OUT=in\nCHDIR_IN=src\\a\nADDDIR=src/a\nPACK=a.dat\nBEGINLIST\nCHDIR_IN=src\\b\nADDDIR=src/b\nPACK=b.dat\n' > pack.vkjob
"$VARKEL" pack.vkjob > /dev/null
rm -r src pack.vkjob
