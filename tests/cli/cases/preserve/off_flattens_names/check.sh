# Flat names from the first walk, then names relative to the input directory.
names=$(tr -c 'a-z.\\' '\n' < x.dat | grep '\.txt' | tr '\n' ' ')
[ "$names" = "deep.txt top.txt sub\\deep.txt top.txt " ] || { echo "names: $names"; exit 1; }
