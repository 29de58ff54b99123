# 65536 lines, each ended by a line feed: the store holds them all, and the
# empty text after the last line feed is no line that was cut.
{ yes '' | head -n 65535; echo 'PRINT=the last line runs'; } > full.vkjob
