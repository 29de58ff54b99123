// A complete archive in its temporary file, not yet under its name.
//
// The writer leaves the archive it packed here; the job then compresses it
// or not, and the archive takes its name in one rename at the end. Until
// that rename an old archive under the name stays whole; a run that fails
// or is interrupted before it removes the temporary file. All of it happens
// through the folder's descriptor, so moving the folder meanwhile leaves no
// file behind.
#pragma once

#include <string>

#include "host/host.h"

class PackedArchive {
public:
    // `path`: the archive as the lines show it (DIR_OUT + name); `folder`
    // and `destination`: the folder and the name the archive replaces;
    // `temporary`: the file in that folder that holds the archive now.
    PackedArchive(std::string path, host::Folder folder, std::string destination,
                  std::string temporary);
    PackedArchive(PackedArchive&& other) noexcept;
    PackedArchive& operator=(PackedArchive&&) = delete;
    PackedArchive(const PackedArchive&) = delete;
    PackedArchive& operator=(const PackedArchive&) = delete;
    ~PackedArchive();  // removes a temporary file that never took the name

    const std::string& path() const { return path_; }
    // The temporary file as a program started from here reaches it (program form).
    std::string PathForTool() const;
    // The name of the temporary file with `suffix` appended, as a program
    // started from here reaches it: where a tool leaves its result.
    std::string ResultPathForTool(const std::string& suffix) const;

    // Puts the tool's result, the temporary file's name + `suffix`, in the
    // temporary file's place. False when there is no such regular file; the
    // result, if any, is removed then.
    bool AdoptResult(const std::string& suffix);
    // Registers the tool's result under that name for removal on an interrupt.
    host::TemporaryFileGuard GuardResult(const std::string& suffix) const;
    // Removes what a failed tool may have left under that name.
    void DiscardResult(const std::string& suffix);
    // Renames the temporary file onto the archive's name. A failure is
    // reported ("Cannot Write Archive" and the reason) and the temporary file
    // removed.
    bool Commit();

private:
    void RemoveTemporary();
    std::string path_;
    host::Folder folder_;
    std::string destination_;
    std::string temporary_;  // empty once it took the name or was removed
    host::TemporaryFileGuard guard_;
};
