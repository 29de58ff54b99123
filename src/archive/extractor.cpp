#include "archive/extractor.h"

#include <cerrno>
#include <string_view>
#include <utility>

namespace {

// Directories held open at once: enough for a file beside a few levels of
// sub-directories, few enough to cost nothing.
constexpr std::size_t kHeldDirectories = 8;

// Rounds of removing what holds a name and creating the file, when another
// process keeps putting something there.
constexpr int kCreateRounds = 4;

std::function<void(const std::string&)> unpack_file_hook;

// Makes each missing level of `relative_path` below `base` and opens it,
// one component at a time, never through a link.
host::Result<host::Folder> MakeBeneath(const host::Folder& base, std::string_view relative_path) {
    host::Result<host::Folder> level = base.Duplicate();
    for (std::size_t begin = 0; level && begin < relative_path.size();) {
        const std::size_t end = std::min(relative_path.find('/', begin), relative_path.size());
        const std::string component(relative_path.substr(begin, end - begin));
        begin = end + 1;
        if (component.empty() || component == ".") continue;
        if (component == "..") return host::Error{EXDEV, "openat"};
        host::Result<host::Folder> next = level.value().OpenFolder(component);
        if (!next && next.error().code == ENOENT) {
            // Made meanwhile by someone else is as good as made here.
            const host::Status made = level.value().MakeFolder(component);
            if (!made && made.error().code != EEXIST) return made.error();
            next = level.value().OpenFolder(component);
        }
        level = std::move(next);
    }
    return level;
}

}  // namespace

Extractor::Extractor(host::Folder output, std::optional<host::FileIdentity> archive)
    : output_(std::move(output)), archive_(archive) {}

namespace {

// A path split into the directory that holds its last component and that
// component; an error when the last component names no file.
struct PathEnd {
    std::string directory;
    std::string name;
};

host::Result<PathEnd> SplitPath(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    PathEnd end{slash == std::string::npos ? "" : path.substr(0, slash),
                slash == std::string::npos ? path : path.substr(slash + 1)};
    if (end.name.empty()) return host::Error{slash == std::string::npos ? ENOENT : EISDIR, "openat"};
    if (end.name == "." || end.name == "..") return host::Error{EISDIR, "openat"};
    return end;
}

}  // namespace

host::Result<host::File> Extractor::Create(const std::string& path) {
    host::Result<PathEnd> end = SplitPath(path);
    if (!end) return end.error();
    host::Result<const host::Folder*> parent = Directory(end.value().directory);
    if (!parent) return parent.error();
    if (unpack_file_hook) unpack_file_hook(path);
    return CreateIn(*parent.value(), end.value().name);
}

host::Status Extractor::MakeDirectory(const std::string& path) {
    host::Result<const host::Folder*> made = Directory(path);
    if (!made) return made.error();
    return {};
}

host::Status Extractor::MakeLink(const std::string& path, const std::string& target) {
    host::Result<PathEnd> end = SplitPath(path);
    if (!end) return end.error();
    host::Result<const host::Folder*> parent = Directory(end.value().directory);
    if (!parent) return parent.error();
    if (unpack_file_hook) unpack_file_hook(path);
    for (int round = 0; round < kCreateRounds; ++round) {
        host::Status made = parent.value()->MakeLink(target, end.value().name);
        if (made || made.error().code != EEXIST) return made;
        if (host::Status vacated = Vacate(*parent.value(), end.value().name); !vacated) {
            return vacated;
        }
    }
    return host::Error{EEXIST, "symlinkat"};
}

host::Status Extractor::SetLinkTime(const std::string& path, host::FileTime mtime) {
    host::Result<PathEnd> end = SplitPath(path);
    if (!end) return end.error();
    host::Result<const host::Folder*> parent = Directory(end.value().directory);
    if (!parent) return parent.error();
    return parent.value()->SetTimesOf(end.value().name, mtime);
}

host::Result<host::Folder> Extractor::Reach(const std::string& path) const {
    return output_.OpenBeneath(path);
}

host::Result<const host::Folder*> Extractor::Directory(const std::string& path) {
    if (path.empty()) return &output_;
    if (const HeldDirectory* held = Held(path)) return &held->folder;
    // From the nearest directory above that is held open, else from the top.
    const host::Folder* base = &output_;
    std::string_view rest = path;
    for (std::size_t slash = path.rfind('/'); slash != std::string::npos && slash > 0;
         slash = path.rfind('/', slash - 1)) {
        if (const HeldDirectory* held = Held(std::string_view(path).substr(0, slash))) {
            base = &held->folder;
            rest = std::string_view(path).substr(slash + 1);
            break;
        }
    }
    // Usually every level is there already (one call); otherwise they are made.
    host::Result<host::Folder> reached = base->OpenBeneath(std::string(rest));
    if (!reached && reached.error().code == ENOENT) reached = MakeBeneath(*base, rest);
    if (!reached) return reached.error();
    return Hold(path, std::move(reached.value()));
}

const Extractor::HeldDirectory* Extractor::Held(std::string_view path) const {
    for (const HeldDirectory& held : held_) {
        if (held.path == path) return &held;
    }
    return nullptr;
}

const host::Folder* Extractor::Hold(std::string path, host::Folder folder) {
    if (held_.size() == kHeldDirectories) held_.pop_back();
    held_.insert(held_.begin(), HeldDirectory{std::move(path), std::move(folder)});
    return &held_.front().folder;
}

host::Result<host::File> Extractor::CreateIn(const host::Folder& parent,
                                             const std::string& name) const {
    for (int round = 0; round < kCreateRounds; ++round) {
        host::Result<host::File> created = parent.CreateNewFile(name);
        if (created || created.error().code != EEXIST) return created;
        if (host::Status vacated = Vacate(parent, name); !vacated) return vacated.error();
    }
    return host::Error{EEXIST, "openat"};
}

host::Status Extractor::Vacate(const host::Folder& parent, const std::string& name) const {
    // The archive being read may lie in the output tree under this very
    // name: it stays, and the record is not written.
    auto identity = parent.IdentityOf(name);
    if (identity && archive_ && identity.value() == *archive_) return host::Error{EEXIST, "openat"};
    // A directory under the name fails here with EISDIR and stays.
    const host::Status removed = parent.Remove(name);
    if (!removed && removed.error().code != ENOENT) return removed.error();
    return {};
}

void SetUnpackFileHook(std::function<void(const std::string& path)> hook) {
    unpack_file_hook = std::move(hook);
}
