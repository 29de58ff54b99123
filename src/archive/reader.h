// The archive reader: recreates the files stored in an archive under DIR_OUT.
#pragma once

#include <string>

// Opens the archive by the name given (relative to the current directory),
// makes DIR_OUT the current directory and recreates every stored file there.
void unpackfiles(std::string archive_name);
