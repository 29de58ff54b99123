#include "interp/dir_walker.h"

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "archive/attributes.h"
#include "archive/format.h"
#include "archive/job_state.h"
#include "archive/outcome.h"
#include "archive/selection.h"
#include "host/host.h"
#include "paths/path_helpers.h"

namespace {

namespace fmt = archive_format;

selection::ExclusionList walk_exclusions;

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

// Where the stored name of a file begins in its source path. With the tree
// preserved, the name is the program form of the path without what it shares
// with the base directory, as DirAccordingTo makes it; otherwise it is the
// bare name. The list makes the name from there (system_add_listed_file),
// so the path is never put together here.
std::size_t StoredNameStart(const std::string& base_directory, std::string_view host_directory,
                            std::string_view name) {
    if (!preserve_directory_tree) return host_directory.size();
    const std::size_t length = host_directory.size() + name.size();
    if (length < base_directory.size()) {
        // Reports the path it cannot make relative, which stays whole.
        std::string whole = host::FromHostPath(std::string(host_directory).append(name));
        DirAccordingTo(base_directory, whole);
        return 0;
    }
    const auto program_byte = [&](std::size_t at) {
        const char byte = at < host_directory.size() ? host_directory[at]
                                                     : name[at - host_directory.size()];
        return byte == '/' ? '\\' : byte;
    };
    std::size_t shared = 0;
    while (shared < base_directory.size() && program_byte(shared) == base_directory[shared]) {
        ++shared;
    }
    return shared;
}

void EnterFile(const std::string& base_directory, const std::string& host_directory,
               const host::DirEntry& entry) {
    if (entry.size > fmt::kMaxDataSize) {
        host::Print("\n Error : File Too Large For Archive " +
                    host::FromHostPath(host_directory + entry.name) + "! \n");
        ReportOutcome(Outcome::Failed);
        return;
    }
    const std::size_t stored_from = StoredNameStart(base_directory, host_directory, entry.name);
    if (store_attributes) {
        const std::string source = host_directory + entry.name;
        system_add_file(source,
                        attributes::RequestField(std::string_view(source).substr(stored_from),
                                                 attributes::Kind::File),
                        static_cast<std::int32_t>(entry.size));
        return;
    }
    system_add_listed_file(host_directory, entry.name, stored_from,
                           static_cast<std::int32_t>(entry.size));
}

// Whether an entry is left out. Patterns with a separator see its path
// relative to the directory the walk started in, the first level's.
bool IsExcluded(const std::vector<Level>& walk, const host::DirEntry& entry) {
    if (walk_exclusions.Empty()) return false;
    const std::string& host_directory = walk.back().host_directory;
    const std::string relative =
        host_directory.substr(walk.front().host_directory.size()) + entry.name;
    return walk_exclusions.Excludes(entry.name, relative);
}

// With ATTRIBUTES on, a directory or a link becomes an entry of its own, of
// no data; its stored name carries the request for attributes, which the
// writer fills in as it packs it.
void EnterWithAttributes(const std::string& base_directory, const std::string& host_directory,
                         const std::string& name, attributes::Kind kind) {
    const std::string source = host_directory + name;
    const std::size_t stored_from = StoredNameStart(base_directory, host_directory, name);
    system_add_file(source, attributes::RequestField(std::string_view(source).substr(stored_from), kind),
                    0);
}

// Handles one entry of the directory on top of the walk; a sub-directory
// goes on top, to be walked before the rest of this listing.
void HandleEntry(const std::string& base_directory, std::vector<Level>& walk,
                 const host::DirEntry& entry, bool recurse) {
    if (IsExcluded(walk, entry)) return;
    const std::string& host_directory = walk.back().host_directory;
    if (entry.error) {
        ReportCannotRead(host::FromHostPath(host_directory + entry.name), *entry.error);
        return;
    }
    if (store_attributes && entry.is_link) {
        EnterWithAttributes(base_directory, host_directory, entry.name, attributes::Kind::Link);
        return;
    }
    switch (entry.kind) {
        case host::EntryKind::Directory:
            if (!recurse) break;
            // With the tree flattened there is no place for a directory's record.
            if (store_attributes && preserve_directory_tree) {
                EnterWithAttributes(base_directory, host_directory, entry.name,
                                    attributes::Kind::Directory);
            }
            EnterDirectory(walk, host_directory + entry.name + '/');
            break;
        case host::EntryKind::RegularFile:
            EnterFile(base_directory, host_directory, entry);
            break;
        case host::EntryKind::Other:
            host::Print("\nSkipping " + host::FromHostPath(host_directory + entry.name) +
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

void ExcludeFromWalks(std::string pattern) { walk_exclusions.Add(std::move(pattern)); }

void ClearWalkExclusions() { walk_exclusions.Clear(); }

void DirAccordingTo(const std::string& base_directory, std::string& path) {
    if (path.size() < base_directory.size()) {
        host::Print("Error trying to change an absoloute path " + base_directory + " - " + path + "\n");
        return;
    }
    std::size_t shared = 0;
    while (shared < base_directory.size() && path[shared] == base_directory[shared]) ++shared;
    path.erase(0, shared);
}
