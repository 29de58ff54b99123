# A small archive made by the program itself; the folder to unpack into does not exist yet.
mkdir src
printf alpha > src/a.txt
printf 'CHDIR_IN=src\nADDDIR=src\nPACK=x.dat\n' > pack.vkjob
"$VARKEL" pack.vkjob > /dev/null
rm -r src pack.vkjob
