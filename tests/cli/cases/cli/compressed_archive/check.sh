[ "$(cat sub/a.txt)" = abc ]
