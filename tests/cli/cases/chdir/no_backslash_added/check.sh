[ -f outx.dat ] || [ -f out/outx.dat ]
