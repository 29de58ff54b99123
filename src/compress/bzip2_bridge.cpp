#include "compress/bzip2_bridge.h"

#include <memory>

#include "archive/job_state.h"
#include "archive/outcome.h"
#include "archive/reader.h"
#include "compress/launcher.h"
#include "host/host.h"

namespace {

// The tool's own path in the start directory. A start directory with a blank
// in it would split the command line there, so the path is quoted then. A
// double quote cannot be carried by the command line at all: the tool is
// then named through this process's descriptor for it, a path of digits.
std::string ToolOnCommandLine(std::optional<host::File>& tool_holder) {
    std::string tool = INIT_DIR + kCompressionToolName;
    if (tool.find('"') != std::string::npos) {
        auto opened = host::File::OpenForReading(tool);
        if (!opened) return tool;  // the start fails and is reported as the tool's failure
        tool_holder = std::move(opened.value());
        tool = tool_holder->PathForChildren();
    }
    if (tool.find_first_of(" \t") != std::string::npos) return '"' + tool + '"';
    return tool;
}

// A relative path that begins with '-' would reach the tool as an option
// ("-d" would turn a compression into a decompression); naming it through the
// current directory keeps it a file name and leaves the result files where
// the callers expect them.
std::string PathForTool(const std::string& path) {
    if (!path.empty() && path.front() == '-') return ".\\" + path;
    return path;
}

bool ReportToolFailure(const std::string& path) {
    host::Print("\n Error : Compression Tool Failed On " + path + "! \n");
    ReportOutcome(Outcome::Failed);
    return false;
}

// Announces the work on `shown`, runs the tool with `option` on `file` and
// waits for it; true when the tool started and ended with success.
bool RunTool(const std::string& announcement, const char* option, const std::string& shown,
             const std::string& file) {
    host::Print(announcement + shown + "...\n");
    // A double quote inside the path would end its quoted token early.
    if (file.find('"') != std::string::npos) return ReportToolFailure(shown);
    std::optional<host::File> tool_holder;
    std::string command_line =
        ToolOnCommandLine(tool_holder) + " " + option + " -f \"" + PathForTool(file) + '"';
    host::Result<host::ProcessEnd> end = RunEXEWait(std::move(command_line));
    if (!end || !end.value().succeeded()) return ReportToolFailure(shown);
    return true;
}

bool IsRegularFile(const host::Result<host::PathInfo>& info) {
    return info && info.value().exists && !info.value().is_link &&
           info.value().kind == host::EntryKind::RegularFile;
}

// Runs the tool on `path` and checks that its result is a regular file. The
// tool never writes over a name that is taken, so a result that appeared
// during a failed run is the tool's own partial one, and it is removed.
bool RunToolBeside(const std::string& announcement, const char* option, const std::string& path,
                   const std::string& suffix) {
    const auto before = host::Examine(path + suffix);
    const bool taken_before = !before || before.value().exists;
    const bool succeeded = RunTool(announcement, option, path, path);
    const bool result_there = IsRegularFile(host::Examine(path + suffix));
    if (succeeded && result_there) return true;
    if (!taken_before) (void)host::RemoveFile(path + suffix);
    return succeeded ? ReportToolFailure(path) : false;
}

// The private files of one decompression: a link to the archive as it was
// opened, and the tool's result beside it. Both are removed when the object
// goes, unless the result was renamed.
class PrivateDecompression {
public:
    PrivateDecompression(host::Folder folder, std::string link)
        : folder_(std::move(folder)),
          link_(std::move(link)),
          link_guard_(folder_, link_),
          result_guard_(folder_, link_ + ".out") {}
    ~PrivateDecompression() {
        (void)folder_.Remove(link_);
        if (!result_renamed_) (void)folder_.Remove(link_ + ".out");
    }
    PrivateDecompression(const PrivateDecompression&) = delete;
    PrivateDecompression& operator=(const PrivateDecompression&) = delete;

    std::string LinkForTool() const { return host::FromHostPath(folder_.PathTo(link_)); }
    host::Result<host::File> OpenResult() const { return folder_.OpenForReading(link_ + ".out"); }
    host::Status RenameResultTo(const std::string& name) {
        host::Status renamed = folder_.Rename(link_ + ".out", name);
        result_renamed_ = renamed.ok();
        return renamed;
    }

private:
    host::Folder folder_;
    std::string link_;
    host::TemporaryFileGuard link_guard_;
    host::TemporaryFileGuard result_guard_;
    bool result_renamed_ = false;
};

// Why the decompressed archive cannot take the archive's name; empty when it can.
std::string ReasonToLeave(const host::Folder& folder, const std::string& name,
                          const host::FileIdentity& read, bool private_beside) {
    auto info = folder.Examine(name);
    if (info && info.value().is_link) return "it is a link";
    auto now = folder.IdentityOf(name);
    if (!info || !info.value().exists || info.value().kind != host::EntryKind::RegularFile ||
        !now || !(now.value() == read)) {
        return "it changed while it was read";
    }
    if (!private_beside) return "its folder cannot be written";
    return "";
}

// Makes the private link to the open archive: beside it when its folder can
// be written (so the result can be renamed onto it), else among the
// temporary files. Sets `beside` accordingly.
std::unique_ptr<PrivateDecompression> MakePrivateLink(const host::Folder& archive_folder,
                                                    const std::string& name,
                                                    const host::File& archive, bool& beside) {
    beside = archive_folder.Writable();
    host::Result<host::Folder> folder =
        beside ? archive_folder.Duplicate() : host::Folder::ForTemporaryFiles();
    if (!folder) return nullptr;
    std::string link;
    if (!folder.value().LinkUnique(archive.PathForChildren(), name + ".tmp", link)) return nullptr;
    return std::make_unique<PrivateDecompression>(std::move(folder.value()), std::move(link));
}

}  // namespace

bool Compress_File(std::string path) { return RunToolBeside("Compressing ", "-z", path, ".bz2"); }

bool UnCompress_File(std::string path) {
    return RunToolBeside("UnCompressing ", "-d", path, ".out");
}

bool is_BZ2(std::string path) {
    host::Result<host::File> file = host::File::OpenForReading(path);
    if (!file) return false;
    char signature[2] = {};
    host::Result<std::size_t> count = file.value().ReadFull(signature, sizeof signature);
    return count && count.value() == sizeof signature && signature[0] == 'B' &&
           signature[1] == 'Z';
}

bool CompressPackedArchive(PackedArchive& packed) {
    const host::TemporaryFileGuard result_guard = packed.GuardResult(".bz2");
    const bool succeeded = RunTool("Compressing ", "-z", packed.path(), packed.PathForTool());
    // The result is adopted only from a tool that succeeded; otherwise it is removed.
    if (!succeeded) {
        packed.DiscardResult(".bz2");
        return false;
    }
    if (!packed.AdoptResult(".bz2")) return ReportToolFailure(packed.path());
    return true;
}

void AnnounceRename(const std::string& result, const std::string& archive) {
    host::Print("Renaming " + result + "\n");
    host::Print("to " + archive + "\n");
}

std::optional<host::File> DecompressForReading(const std::string& shown, const std::string& path) {
    std::string name;
    auto folder = host::Folder::Holding(path, name);
    auto archive = host::File::OpenForReading(path);
    auto read_identity = archive ? archive.value().Identity()
                                 : host::Result<host::FileIdentity>(archive.error());
    bool beside = false;
    std::unique_ptr<PrivateDecompression> work;
    if (folder && read_identity) work = MakePrivateLink(folder.value(), name, archive.value(), beside);
    if (!work) {
        host::Print("UnCompressing " + shown + "...\n");
        ReportToolFailure(shown);
        return std::nullopt;
    }
    if (!RunTool("UnCompressing ", "-d", shown, work->LinkForTool())) return std::nullopt;
    host::Result<host::File> result = work->OpenResult();
    auto result_info = result ? result.value().Info() : host::Result<host::FileInfo>(result.error());
    if (!result_info || result_info.value().kind != host::EntryKind::RegularFile) {
        ReportToolFailure(shown);
        return std::nullopt;
    }
    std::string reason = ReasonToLeave(folder.value(), name, read_identity.value(), beside);
    if (reason.empty()) {
        if (host::Status renamed = work->RenameResultTo(name); !renamed) reason = renamed.error().Text();
    }
    if (reason.empty()) {
        AnnounceRename(shown + ".out", shown);
    } else {
        host::Print("\n" + shown + " left as it is: " + reason + "\n");
    }
    return std::move(result.value());
}

void UnpackCompressed(const std::string& shown, const std::string& path) {
    std::optional<host::File> decompressed = DecompressForReading(shown, path);
    if (decompressed) {
        unpack_opened_archive(shown, std::move(*decompressed));
    } else {
        unpack_archive_at(JobPath{shown, path});
    }
}
