// The archive reader: recreates the stored files under the output directory.
//
// Records are read until the archive ends; the header's file count only
// decides whether any record is read at all. Every stored name passes a
// safety check before it reaches the file system, so nothing is ever written
// outside the output directory, and malformed or cut-off archives are
// reported with where they went wrong instead of being read as garbage.
#include "archive/reader.h"

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "archive/format.h"
#include "archive/job_paths.h"
#include "archive/job_state.h"
#include "archive/names.h"
#include "archive/outcome.h"
#include "host/host.h"
#include "paths/path_helpers.h"

namespace {

namespace fmt = archive_format;

// The archive being read, with its read position kept by hand so that a
// damaged record can be located and a skip past the end noticed.
struct ArchiveInput {
    std::string name;  // as given by the caller, for messages
    host::File file;
    std::optional<host::FileIdentity> identity;
    std::int64_t size = 0;
    std::int64_t offset = 0;
};

// Whether reading goes on with the next record.
enum class Step { Next, Stop };

void ReportError(const std::string& what, const std::string& subject) {
    host::Print("\n Error : " + what + " " + subject + "! \n");
    ReportOutcome(Outcome::Failed);
}

void ReportCannotWrite(const std::string& stored_name) {
    host::Print("\nCould not write `" + stored_name + "`\n");
    ReportOutcome(Outcome::Failed);
}

Step ReportTruncated(const ArchiveInput& archive) {
    ReportError("Truncated Archive", archive.name);
    return Step::Stop;
}

// ---- Archive input ---------------------------------------------------------------

std::optional<ArchiveInput> OpenArchiveInput(const std::string& name,
                                             host::Result<host::File> opened) {
    if (!opened) return std::nullopt;
    auto size = opened.value().Size();  // fails for a directory
    if (!size) return std::nullopt;
    ArchiveInput archive{name, std::move(opened.value()), std::nullopt, size.value(), 0};
    if (auto identity = archive.file.Identity()) archive.identity = identity.value();
    // Records are read in small pieces: headers, names, small files.
    archive.file.ReadAhead(fmt::kCopyBufferSize);
    return archive;
}

// Reads up to `count` bytes; fewer at the end of the archive. A read error
// counts as the end: what follows cannot be trusted.
std::size_t ReadArchive(ArchiveInput& archive, char* buffer, std::size_t count) {
    auto read = archive.file.ReadFull(buffer, count);
    if (!read) return 0;
    archive.offset += static_cast<std::int64_t>(read.value());
    return read.value();
}

// Moves past the data of a record that is not recreated.
Step PassOver(ArchiveInput& archive, std::int32_t data_size) {
    if (archive.offset + data_size > archive.size || !archive.file.Skip(data_size)) {
        return ReportTruncated(archive);
    }
    archive.offset += data_size;
    return Step::Next;
}

std::optional<fmt::HeaderBytes> ReadHeader(ArchiveInput& archive) {
    fmt::HeaderBytes header{};
    if (ReadArchive(archive, header.data(), header.size()) < header.size()) return std::nullopt;
    if (std::string_view(header.data(), fmt::kMagic.size()) != fmt::kMagic) return std::nullopt;
    return header;
}

void ReportHeader(const fmt::HeaderBytes& header) {
    host::Print(std::string{header[0], header[1]} + "\n");
    host::Print("Password protection = " + std::string(1, header[fmt::kProtectionOffset]) + "\n");
    host::Print("Size = " + std::to_string(fmt::GetInt32(header.data() + fmt::kSizeFieldOffset)) +
                "\n");
    host::Print("Files inside = " +
                std::to_string(fmt::GetInt32(header.data() + fmt::kFileCountOffset)) + "\n");
    host::Print("\n");
}

bool IsTheArchive(const ArchiveInput& archive, const host::HostPath& path) {
    auto identity = host::IdentityOf(path);
    return identity && identity.value() == archive.identity;
}

// Creates a fresh file to unpack into, in place of whatever held the name;
// never the archive being read, which a stored name may happen to match. A
// link already under the name is replaced, not followed, so its target (which
// may lie outside the output directory) is never written.
std::optional<host::File> CreateOutput(const ArchiveInput& archive, const host::HostPath& path) {
    // A free name is taken at once: a file made new cannot be the archive.
    if (auto created = host::File::CreateNew(path)) return std::move(created.value());
    if (IsTheArchive(archive, path)) return std::nullopt;
    auto created = host::File::CreateReplacing(path);
    if (!created) return std::nullopt;
    return std::move(created.value());
}

// ---- Records ---------------------------------------------------------------------

// The directory part of a path in host form, ending in '/'; empty when it has none.
std::string DirectoryOf(const host::HostPath& path) {
    const std::size_t slash = path.text.rfind('/');
    return slash == std::string::npos ? std::string() : path.text.substr(0, slash + 1);
}

// Creates the directories a file needs, once for a run of files that share them.
void CreateDirectoriesFor(const host::HostPath& path, std::string& last_directory) {
    const std::string directory = DirectoryOf(path);
    if (directory.empty() || directory == last_directory) return;
    // Usually only the last level is missing: one call makes it. Otherwise
    // the levels are made one by one. A failure shows when the file is created.
    const host::Status made = host::CreateDirectory(host::HostPath{directory});
    if (!made && made.error().code != EEXIST) {
        for (std::size_t slash = directory.find('/', 1); slash != std::string::npos;
             slash = directory.find('/', slash + 1)) {
            (void)host::CreateDirectory(host::HostPath{directory.substr(0, slash)});
        }
    }
    last_directory = directory;
}

// Streams one record's data into its file. After a failed copy the read
// position in the archive is unknown, so reading stops.
Step WriteData(ArchiveInput& archive, host::File& output, const std::string& stored_name,
               std::int32_t data_size) {
    auto copied = output.CopyFrom(archive.file, data_size);
    if (!copied) {
        ReportCannotWrite(stored_name);
        return Step::Stop;
    }
    archive.offset += copied.value();
    if (!output.Close()) ReportCannotWrite(stored_name);
    host::Print(".");
    host::FlushProgress();
    if (copied.value() < data_size) return ReportTruncated(archive);
    return Step::Next;
}

// Recreates one record's file. Every line about it shows the part of the
// stored name before the NUL; the file is created under the exact name when
// the record holds one.
Step ExtractFile(ArchiveInput& archive, const fmt::StoredNameParts& name, std::int32_t data_size,
                 std::string& last_directory) {
    const std::string stored_name(name.program);
    const names::OutputName output_name = names::MakeOutputName(name.program, name.exact);
    if (!output_name.safe) {
        host::Print("\nUnsafe name skipped `" + stored_name + "`\n");
        return PassOver(archive, data_size);
    }
    if (!output_name.removed.empty()) {
        host::Print("\nRemoving leading `" + output_name.removed + "' from `" + stored_name + "`\n");
    }
    // A directory along the name that is a link would lead out of the output
    // directory: the file is not written there. A file in the directory of
    // the file before it has nothing new to look at.
    const host::HostPath path{output_name.path};
    if (DirectoryOf(path) != last_directory && host::PassesThroughLink(path)) {
        ReportCannotWrite(stored_name);
        return PassOver(archive, data_size);
    }
    CreateDirectoriesFor(path, last_directory);
    std::optional<host::File> output = CreateOutput(archive, path);
    if (!output) {
        ReportCannotWrite(stored_name);
        return PassOver(archive, data_size);
    }
    return WriteData(archive, *output, stored_name, data_size);
}

bool IsPlausible(const fmt::RecordHeader& header) {
    return header.data_size >= 0 && header.name_length >= 0 &&
           header.name_length <= fmt::kMaxNameFieldLength;
}

Step ReportDamage(const ArchiveInput& archive, std::int64_t record_offset) {
    ReportError("Damaged Archive", archive.name + " at byte " + std::to_string(record_offset));
    return Step::Stop;
}

Step UnpackRecord(ArchiveInput& archive, std::string& last_directory) {
    const std::int64_t record_offset = archive.offset;
    fmt::RecordHeaderBytes header_bytes{};
    const std::size_t header_read = ReadArchive(archive, header_bytes.data(), header_bytes.size());
    if (header_read == 0) return Step::Stop;  // the archive ends exactly after a record
    if (header_read < header_bytes.size()) return ReportTruncated(archive);
    const fmt::RecordHeader header = fmt::DecodeRecordHeader(header_bytes);
    if (!IsPlausible(header)) return ReportDamage(archive, record_offset);
    std::string field(static_cast<std::size_t>(header.name_length), '\0');
    const std::size_t name_read = ReadArchive(archive, field.data(), field.size());
    if (name_read == field.size()) {
        const fmt::StoredNameParts name = fmt::SplitStoredName(field);
        if (!name.exact.empty() && !fmt::ExactNameMatches(name.program, name.exact)) {
            return ReportDamage(archive, record_offset);
        }
        return ExtractFile(archive, name, header.data_size, last_directory);
    }
    // The archive ends inside the name: the file is still made, empty, under
    // the part of the name before the NUL that was read.
    field.resize(name_read);
    const fmt::StoredNameParts name{fmt::SplitStoredName(field).program, {}};
    if (ExtractFile(archive, name, 0, last_directory) == Step::Stop) return Step::Stop;
    return ReportTruncated(archive);
}

// Makes DIR_OUT the current directory, creating it when it is missing.
bool EnterOutputDirectory() {
    if (DIR_OUT.empty()) return true;  // stay in the current directory
    const JobPath output = OutputDirectoryPath();
    if (host::ChangeDirectory(output.path)) return true;
    (void)CreateDir(output.path.c_str());
    if (host::ChangeDirectory(output.path)) return true;
    ReportError("Cannot Enter Output Directory", DIR_OUT);
    return false;
}

void PrintPreamble() {
    host::Print("char* StartingDir;\n");
    host::Print("GetCurrentDirectory(DirNameSize,StartingDir); TODO TODO TODO !\n");
    if (DIR_OUT.empty()) {
        host::Print("No Output Directory specified , assuming current directory..");
    }
    host::Print("SetCurrentDirectory(DIR_OUT.c_str());\n");
}

void UnpackArchive(const std::string& archive_name, std::optional<ArchiveInput> archive) {
    PrintPreamble();
    if (!EnterOutputDirectory()) return;
    if (!archive) {
        ReportError("Cannot Open Archive", archive_name);
        return;
    }
    const std::optional<fmt::HeaderBytes> header = ReadHeader(*archive);
    if (!header) {
        ReportError("Not An Archive", archive_name);
        return;
    }
    ReportHeader(*header);
    if (fmt::GetInt32(header->data() + fmt::kFileCountOffset) < 1) return;
    std::string last_directory;
    while (UnpackRecord(*archive, last_directory) == Step::Next) {
    }
    host::FlushOutput();
}

}  // namespace

void unpackfiles(std::string archive_name) { unpack_archive_at(JobPath{archive_name, archive_name}); }

void unpack_archive_at(const JobPath& archive) {
    // Opened before the directory changes: the path is relative to the caller's.
    UnpackArchive(archive.shown,
                  OpenArchiveInput(archive.shown, host::File::OpenForReading(archive.path)));
}

void unpack_opened_archive(std::string archive_name, host::File archive) {
    const host::Status rewound = archive.Rewind();
    UnpackArchive(archive_name, rewound ? OpenArchiveInput(archive_name, std::move(archive))
                                        : std::nullopt);
}
