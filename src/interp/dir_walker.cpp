#include "interp/dir_walker.h"

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "archive/format.h"
#include "archive/job_state.h"
#include "archive/outcome.h"
#include "host/host.h"
#include "paths/path_helpers.h"

namespace {

namespace fmt = archive_format;

// A directory whose listing is being taken up: its host path (ending in
// '/'), its entries, read whole, and the next one to handle.
struct Level {
    std::string host_directory;
    std::vector<host::DirEntry> entries;
    std::size_t next = 0;
};

// A directory as the user would name it: program form, without the
// separator that ends it (the root keeps its one).
std::string ShownDirectory(const std::string& host_directory) {
    std::string shown = host::FromHostPath(host_directory);
    if (shown.size() > 1 && shown.back() == '\\') shown.pop_back();
    return shown;
}

void ReportCannotRead(const std::string& shown_path, const host::Error& error) {
    host::Print("\nCannot read " + shown_path + ": " + error.Text() + "\n");
    ReportOutcome(Outcome::Failed);
}

// A directory that is missing or is no directory gets the line it always
// got, the errno without a line break; any other failure says what it was.
void ReportListingFailure(const std::string& host_directory, const host::Error& error) {
    if (error.code != ENOENT && error.code != ENOTDIR) {
        ReportCannotRead(ShownDirectory(host_directory), error);
        return;
    }
    host::Print("INTERNAL ERROR STARTING.. " + std::to_string(static_cast<unsigned>(error.code)));
    ReportOutcome(Outcome::Failed);
}

// Reads a directory's listing whole and puts it on top of the walk; the
// directory is closed again before anything below it is opened.
void EnterDirectory(std::vector<Level>& walk, std::string host_directory) {
    auto listing = host::DirectoryListing::Open(host_directory);
    if (!listing) {
        ReportListingFailure(host_directory, listing.error());
        return;
    }
    walk.push_back({std::move(host_directory), std::move(listing.value().entries()), 0});
}

// The stored name of a file: made from its program form as always, relative
// to the base directory when the tree is preserved, its bare name when not;
// the exact name below the base follows when it holds a backslash.
std::string StoredNameOf(const std::string& base_directory, const std::string& host_source,
                         const std::string& name) {
    if (!preserve_directory_tree) return fmt::StoredNameFor(name, name);
    std::string stored_name = host::FromHostPath(host_source);
    DirAccordingTo(base_directory, stored_name);
    // Both forms have the same length: DirAccordingTo removed the same
    // number of bytes from the front as this does.
    const std::string_view exact(host_source.data() + host_source.size() - stored_name.size(),
                                 stored_name.size());
    return fmt::StoredNameFor(std::move(stored_name), exact);
}

void EnterFile(const std::string& base_directory, const std::string& host_source,
               const host::DirEntry& entry) {
    if (entry.size > fmt::kMaxDataSize) {
        host::Print("\n Error : File Too Large For Archive " + host::FromHostPath(host_source) +
                    "! \n");
        ReportOutcome(Outcome::Failed);
        return;
    }
    system_add_file(host_source, StoredNameOf(base_directory, host_source, entry.name),
                    static_cast<std::int32_t>(entry.size));
}

// Handles one entry of the directory on top of the walk; a sub-directory
// goes on top, to be walked before the rest of this listing.
void HandleEntry(const std::string& base_directory, std::vector<Level>& walk,
                 const host::DirEntry& entry, bool recurse) {
    std::string host_path = walk.back().host_directory + entry.name;
    if (entry.error) {
        ReportCannotRead(host::FromHostPath(host_path), *entry.error);
        return;
    }
    switch (entry.kind) {
        case host::EntryKind::Directory:
            if (recurse) EnterDirectory(walk, std::move(host_path) + '/');
            break;
        case host::EntryKind::RegularFile:
            EnterFile(base_directory, host_path, entry);
            break;
        case host::EntryKind::Other:
            host::Print("\nSkipping " + host::FromHostPath(host_path) +
                        ": not a regular file or directory\n");
            break;
    }
}

}  // namespace

void add_a_dir(std::string base_directory, std::string directory, bool recurse) {
    FixDir(base_directory);
    FixDir(directory);
    std::vector<Level> walk;
    EnterDirectory(walk, host::ToHostPath(directory));
    while (!walk.empty()) {
        Level& level = walk.back();
        if (level.next == level.entries.size()) {
            walk.pop_back();
            continue;
        }
        const host::DirEntry entry = std::move(level.entries[level.next++]);
        HandleEntry(base_directory, walk, entry, recurse);
    }
}

void DirAccordingTo(const std::string& base_directory, std::string& path) {
    if (path.size() < base_directory.size()) {
        host::Print("Error trying to change an absoloute path " + base_directory + " - " + path + "\n");
        return;
    }
    std::size_t shared = 0;
    while (shared < base_directory.size() && path[shared] == base_directory[shared]) ++shared;
    path.erase(0, shared);
}
