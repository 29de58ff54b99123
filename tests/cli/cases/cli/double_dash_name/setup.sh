# An archive whose name looks like an option.
printf alpha > a.txt
printf 'ADDFILE=a.txt,restored.txt\nPACK=--help\n' > pack.vkjob
"$VARKEL" pack.vkjob > /dev/null
rm a.txt pack.vkjob
