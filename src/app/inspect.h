// Listing and testing an archive (--list, --test): the record decoder over
// the archive, or over its bzip2 data decompressed in the process. Nothing
// is created, changed or removed, the archive included. Each returns the
// exit status: 0, or 2 when the archive is damaged, cannot be read, or the
// output cannot be written.
#pragma once

#include <string>

int ListArchive(const std::string& path);
int TestArchive(const std::string& path);
