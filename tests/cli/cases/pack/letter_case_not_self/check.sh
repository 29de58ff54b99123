# Notes.dat is another file than the archive notes.dat: it was packed.
[ "$(cat restored/Notes.dat)" = other ]
