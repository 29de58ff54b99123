// The archive writer: packs the action list into one archive file.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "archive/job_paths.h"
#include "archive/packed_archive.h"

// Writes the entries from actions_point to the end of the action list into
// the archive DIR_OUT + archive_name (archive_name itself when it is an
// absolute path), advancing actions_point past each one.
// The archive is written to a temporary file and renamed onto the name only
// when complete; until then an old archive under the name stays whole. True
// when the complete archive is in place.
bool pack2files(std::string archive_name);

// Packs as pack2files does, printing the same lines, but leaves the complete
// archive in its temporary file for the caller to compress and put in place
// (PackedArchive::Commit). Nothing when the archive could not be written
// (reported here; no temporary file is left).
std::optional<PackedArchive> PackToTemporary(std::string archive_name);

// The file a new archive under this path replaces: the path itself, or,
// when it is a symbolic link to a regular file, the file the link leads to
// (the link stays, as copying onto it would leave it).
std::string ArchiveDestination(const std::string& archive_path);

// An archive is only ever written over a regular file: when something else
// holds the name (a directory, a FIFO, a device, a link that leads nowhere
// or to one of those), it reports "Cannot Create Archive" with the reason,
// consumes the list and returns true; nothing is touched.
bool RefuseSpecialTarget(const JobPath& archive);

// A seam for tests: called with each source path after its size has been
// measured and before its bytes are copied. Empty by default.
void SetPackSourceHook(std::function<void(const std::string& source)> hook);
