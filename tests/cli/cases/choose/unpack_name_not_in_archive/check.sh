# What was found is unpacked all the same.
[ "$(find . -type f ! -name x.vka | sort | tr '\n' ' ')" = "./top.txt " ]
