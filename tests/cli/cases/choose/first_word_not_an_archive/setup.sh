printf "just text" > notes.txt
