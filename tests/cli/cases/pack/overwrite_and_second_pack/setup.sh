printf abc > a.txt
