[ "$(cat a.txt)" = abc ] && [ ! -e w.txt ]
