[ "$(cat 'a/b')" = 'one directory' ]
[ "$(cat 'a\b')" = 'backslash inside' ]
[ "$(cat 'x\y/c')" = 'in x\y' ]
[ "$(ls)" = "$(printf 'a\na\\b\nx.dat\nx\\y')" ]
