// The archive reader: recreates the files stored in an archive under DIR_OUT.
#pragma once

#include <string>

#include "archive/job_paths.h"
#include "host/host.h"

namespace selection {
class MemberChoice;
}

// The records that unpacking takes from here on: those `choice` takes, or
// every record when it is null (as at start). A name that chose nothing is
// reported when the archive has been read, and fails the run.
void ChooseMembers(selection::MemberChoice* choice);

// Opens the archive by the name given (relative to the current directory),
// makes DIR_OUT the current directory and recreates every stored file there.
void unpackfiles(std::string archive_name);
// The same for an archive of a job, reached by its path and called by the
// name the lines show.
void unpack_archive_at(const JobPath& archive);
// The same for an archive already open (a private decompressed copy), read
// from its start; `archive_name` is what the lines call it.
void unpack_opened_archive(std::string archive_name, host::File archive);
