diff -r src restored
