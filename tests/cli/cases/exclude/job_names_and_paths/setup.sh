mkdir -p p/src/gen p/build/obj p/.git/refs p/cache/deep
printf 1 > p/keep.txt && printf 2 > p/main.o && printf 3 > p/src/b.c && printf 4 > p/src/c.o
printf 5 > p/src/gen/g.c && printf 6 > p/build/obj/x.c && printf 7 > p/build/top.c
printf 8 > p/.git/refs/HEAD && printf 9 > p/cache/deep/y.txt && mkfifo p/cache/fifo
printf 0 > p/Main.O
