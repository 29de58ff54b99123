// Listing and testing an archive (--list, --test): the record decoder over
// the archive, or over its bzip2 data decompressed in the process. Nothing
// is created, changed or removed, the archive included. Each returns the
// exit status: 0, or 2 when the archive is damaged, cannot be read, or the
// output cannot be written.
#pragma once

#include <string>

namespace selection {
class MemberChoice;
}

// Only the records `choice` takes are listed, or tested name by name, when
// it is given; a name that chose nothing is reported and makes the status 2.
int ListArchive(const std::string& path, selection::MemberChoice* choice = nullptr);
int TestArchive(const std::string& path, selection::MemberChoice* choice = nullptr);
