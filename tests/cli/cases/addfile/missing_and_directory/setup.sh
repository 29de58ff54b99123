mkdir somedir && printf abc > a.txt
