# Stored without the part that climbed out, and unpacked under the output directory.
[ "$(cat work/restored/docs/r.txt)" = r ] && [ "$(cat work/restored/docs/sub/s.txt)" = s ]
[ "$(cat work/restored/x/r2.txt)" = r ]
[ "$(ls work/restored)" = "$(printf 'docs\nx')" ]
[ ! -e x ] && [ ! -e work/x ]
