// The extractor: creates the files of an unpack beneath the output
// directory, which it holds open by its descriptor for the whole unpack.
//
// Every name is reached one component at a time from that descriptor: each
// directory level is opened without following a link (made first when it is
// missing), and the file is created new in its parent's descriptor, after
// whatever held its name (a file, a link) is removed, never followed. Nothing
// is created or opened by a path that passes through a link, so another
// process that can write the output tree cannot redirect a write between a
// check and the write: there is no check apart from the write. The
// directories of the last few files stay open, since an archive's order
// groups the files of one directory.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/host.h"

class Extractor {
public:
    // `archive`: the archive being read, which is never replaced by a file of
    // the same name.
    Extractor(host::Folder output, std::optional<host::FileIdentity> archive);

    // A new, empty file at `path` below the output directory: a relative host
    // path that the stored-name rule let through ('/' separators, no ".."
    // component). The directories it needs are made.
    host::Result<host::File> Create(const std::string& path);
    // The directory at `path` below the output directory, made when missing
    // (with the levels it needs) and kept when it is there.
    host::Status MakeDirectory(const std::string& path);
    // A symbolic link at `path` leading to `target`, which is only text here
    // and never followed. Whatever held the name (a file, a link) is removed
    // first; a directory stays (EISDIR), and so does the archive being read.
    host::Status MakeLink(const std::string& path, const std::string& target);
    // Sets the time of the link made at `path`, without following it.
    host::Status SetLinkTime(const std::string& path, host::FileTime mtime);
    // The directory at `path` reached afresh from the output directory, one
    // component at a time and never through a link, for setting its own
    // attributes once everything below it is written.
    host::Result<host::Folder> Reach(const std::string& path) const;

private:
    struct HeldDirectory {
        std::string path;  // below the output directory, host form, no final '/'
        host::Folder folder;
    };
    // The directory at `path` (empty: the output directory itself).
    host::Result<const host::Folder*> Directory(const std::string& path);
    const HeldDirectory* Held(std::string_view path) const;
    const host::Folder* Hold(std::string path, host::Folder folder);
    host::Result<host::File> CreateIn(const host::Folder& parent, const std::string& name) const;
    // Makes room for a new entry `name` in `parent`: what holds it is removed
    // unless it is a directory or the archive being read.
    host::Status Vacate(const host::Folder& parent, const std::string& name) const;

    host::Folder output_;
    std::optional<host::FileIdentity> archive_;
    std::vector<HeldDirectory> held_;  // the most recently reached first
};

// A seam for tests: called with each file's path below the output directory
// after its directory has been reached and before the file is created in it.
// Empty by default.
void SetUnpackFileHook(std::function<void(const std::string& path)> hook);
