mkdir d && echo other > d/Notes.dat
