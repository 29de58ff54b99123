mkdir -p docs/sub work && echo r > docs/r.txt && echo s > docs/sub/s.txt
