# The folder that holds the archive is the one packed; the job ran once.
printf one > a.txt
printf two > B.DAT
"$VARKEL" job.vkjob > /dev/null
