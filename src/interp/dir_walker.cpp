#include "interp/dir_walker.h"

#include <cstdint>

#include "archive/format.h"
#include "archive/job_state.h"
#include "archive/outcome.h"
#include "host/host.h"
#include "paths/path_helpers.h"

namespace {

void ReportListingFailure(const char* message, const host::Error& error) {
    host::Print(message + std::to_string(static_cast<unsigned>(error.code)));
    ReportOutcome(Outcome::Failed);
}

void EnterFile(const std::string& base_directory, const std::string& directory,
               const host::DirEntry& entry) {
    std::string source = directory + entry.name;
    if (entry.size > archive_format::kMaxDataSize) {
        host::Print("\n Error : File Too Large For Archive " + source + "! \n");
        ReportOutcome(Outcome::Failed);
        return;
    }
    std::string stored_name = preserve_directory_tree ? source : entry.name;
    if (preserve_directory_tree) DirAccordingTo(base_directory, stored_name);
    system_add_file(std::move(source), std::move(stored_name), static_cast<std::int32_t>(entry.size));
}

// Handles one entry after the first two (the directory's own and its parent's).
void HandleEntry(const std::string& base_directory, const std::string& directory,
                 const host::DirEntry& entry, bool recurse) {
    switch (entry.kind) {
        case host::EntryKind::Directory:
            if (recurse) add_a_dir(base_directory, directory + entry.name, recurse);
            break;
        case host::EntryKind::RegularFile:
            EnterFile(base_directory, directory, entry);
            break;
        case host::EntryKind::Other:
            host::Print("\nSkipping " + directory + entry.name +
                        ": not a regular file or directory\n");
            break;
    }
}

}  // namespace

void add_a_dir(std::string base_directory, std::string directory, bool recurse) {
    FixDir(base_directory);
    FixDir(directory);
    auto listing = host::DirectoryListing::Open(directory);
    if (!listing) {
        ReportListingFailure("INTERNAL ERROR STARTING.. ", listing.error());
        return;
    }
    // The first two entries are the directory's own and its parent's: they
    // are passed over when they are directories and entered when files.
    for (int position = 0;; ++position) {
        auto next = listing.value().Next();
        if (!next) {
            ReportListingFailure("FILESEEK INTERNAL ERROR.. ", next.error());
            return;
        }
        if (!next.value().has_value()) return;  // the end of the listing
        const host::DirEntry& entry = *next.value();
        if (position < 2 && entry.kind == host::EntryKind::Directory) continue;
        HandleEntry(base_directory, directory, entry, recurse);
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
