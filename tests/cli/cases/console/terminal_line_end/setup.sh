# An archive of one file: unpacking it ends with a progress dot, no line feed.
printf alpha > a.txt
printf 'ADDFILE=a.txt,a.txt\nPACK=x.dat\n' > pack.vkjob
"$VARKEL" pack.vkjob > /dev/null
rm a.txt pack.vkjob
