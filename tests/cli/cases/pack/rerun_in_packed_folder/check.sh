# The archive never holds itself: B.DAT, a.txt and job.vkjob, nothing else,
# and no temporary file is left beside it.
set -e
{
    printf 'VK1\0\0\0\0\0\4\0\0\0'
    printf '\3\0\0\0\5\0\0\0B.DATtwo'
    printf '\3\0\0\0\5\0\0\0a.txtone'
    printf '\44\0\0\0\11\0\0\0job.vkjob'
    cat job.vkjob
} | cmp - backup.dat
test -z "$(ls | grep tmp)"
