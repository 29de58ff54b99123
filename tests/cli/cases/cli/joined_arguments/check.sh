[ "$(cat a.txt)" = abc ]
