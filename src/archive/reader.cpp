// The archive reader: recreates the stored files under the output directory.
//
// Records are read until the archive ends; the header's file count only
// decides whether any record is read at all. Every stored name passes a
// safety check before it reaches the file system, so nothing is ever written
// outside the output directory, and malformed or cut-off archives are
// reported with where they went wrong instead of being read as garbage. The
// files themselves are made by the extractor, beneath the output directory's
// descriptor.
#include "archive/reader.h"

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "archive/attributes.h"
#include "archive/extractor.h"
#include "archive/format.h"
#include "archive/job_paths.h"
#include "archive/job_state.h"
#include "archive/names.h"
#include "archive/outcome.h"
#include "archive/record_decoder.h"
#include "archive/selection.h"
#include "host/host.h"
#include "paths/path_helpers.h"

namespace {

namespace fmt = archive_format;

// The archive being read.
struct ArchiveInput {
    std::string name;  // as given by the caller, for messages
    host::File file;
    std::optional<host::FileIdentity> identity;
    std::int64_t size = 0;
};

// The records asked for on the command line; null: all of them.
selection::MemberChoice* chosen_members = nullptr;

bool IsChosen(const fmt::StoredNameParts& name) {
    return chosen_members == nullptr || chosen_members->Takes(name.program, name.exact);
}

// Whether reading goes on with the next record.
enum class Step { Next, Stop };

// Records without a name are reported one by one up to this many in a row;
// the rest of such a run is counted and told in one line, so that an archive
// of zeros (eight bytes make such a record) cannot flood the output.
constexpr int kUnnamedShownInARow = 100;

// A directory whose own mode and time are set once the unpack is done, so
// that writing the entries below it does not change them again.
struct DirectoryAttributes {
    std::string path;
    attributes::Attributes attributes;
};

// One unpack under way: the archive it reads, where its files go, the run
// of records without a name that it is in, and the directories whose
// attributes wait for its end.
struct UnpackRun {
    ArchiveInput& archive;
    RecordDecoder& decoder;  // the same decoder that listing and testing use
    Extractor extractor;
    int unnamed_in_a_row = 0;
    long long unnamed_not_shown = 0;
    std::vector<DirectoryAttributes> directories = {};
};

void ReportError(const std::string& what, const std::string& subject) {
    host::Print("\n Error : " + what + " " + subject + "! \n");
    ReportOutcome(Outcome::Failed);
}

void ReportCannotWrite(const std::string& stored_name) {
    host::Print("\nCould not write `" + stored_name + "`\n");
    ReportOutcome(Outcome::Failed);
}

// A file that could not be completed keeps what was written (it may hold the
// only copy of the start of a file): the line says so, after the error that
// stopped it.
void ReportPartial(const std::string& stored_name) {
    ReportError("Partial File", stored_name);
}

// Ends a run of records without a name: tells how many were not shown.
void EndUnnamedRun(UnpackRun& run) {
    if (run.unnamed_not_shown > 0) {
        host::Print("\n... and " + std::to_string(run.unnamed_not_shown) +
                    " more records without a name\n");
    }
    run.unnamed_in_a_row = 0;
    run.unnamed_not_shown = 0;
}

// A record whose file is not made: each counts as a failure; past the first
// ones of a run, records without a name are only counted.
void ReportNotWritten(UnpackRun& run, const std::string& stored_name) {
    if (!stored_name.empty() || ++run.unnamed_in_a_row <= kUnnamedShownInARow) {
        ReportCannotWrite(stored_name);
        return;
    }
    ++run.unnamed_not_shown;
    ReportOutcome(Outcome::Failed);
}

// The end of the archive ends a run of records without a name too: its
// count comes before the error.
Step ReportTruncated(UnpackRun& run) {
    EndUnnamedRun(run);
    ReportError("Truncated Archive", run.archive.name);
    return Step::Stop;
}

// ---- Archive input ---------------------------------------------------------------

std::optional<ArchiveInput> OpenArchiveInput(const std::string& name,
                                             host::Result<host::File> opened) {
    if (!opened) return std::nullopt;
    auto size = opened.value().Size();  // fails for a directory
    if (!size) return std::nullopt;
    ArchiveInput archive{name, std::move(opened.value()), std::nullopt, size.value()};
    if (auto identity = archive.file.Identity()) archive.identity = identity.value();
    return archive;
}

// Moves past the data of a record that is not recreated.
Step PassOver(UnpackRun& run) {
    if (!run.decoder.SkipData()) return ReportTruncated(run);
    return Step::Next;
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

// ---- Attributes ------------------------------------------------------------------

host::FileTime TimeOf(const attributes::Attributes& attributes) {
    return host::FileTime{attributes.seconds, attributes.nanoseconds};
}

bool HasTime(const attributes::Attributes& attributes) {
    return attributes.has_time && attributes.time_fits;
}

// Only the bits an archive may carry are applied, whatever its text says. A
// mode or a time that the file system refuses (a time it cannot hold) leaves
// the file as it is: its data is all there.
template <typename Target>
void ApplyAttributes(Target& target, const attributes::Attributes& attributes) {
    if (attributes.has_mode) (void)target.SetMode(attributes.mode & attributes::kModeBits);
    if (HasTime(attributes)) (void)target.SetTimes(TimeOf(attributes));
}

// Sets each directory's own mode and time, the deepest and latest first,
// reaching each afresh from the output directory.
void ApplyDirectoryAttributes(UnpackRun& run) {
    for (auto it = run.directories.rbegin(); it != run.directories.rend(); ++it) {
        host::Result<host::Folder> folder = run.extractor.Reach(it->path);
        if (folder) ApplyAttributes(folder.value(), it->attributes);
    }
}

// The path of a directory record without its final separator.
std::string DirectoryPath(std::string path) {
    while (!path.empty() && path.back() == '/') path.pop_back();
    return path;
}

// ---- Records ---------------------------------------------------------------------

// How a record's data ends: as its header says, or cut short by the end of
// the archive (inside the name, so that the file is made under part of it).
enum class RecordEnd { AsSaid, InsideName };

// Streams one record's data into its file. After a failed copy the read
// position in the archive is unknown, so reading stops. A file that was not
// completed stays as it is and is reported as partial.
Step WriteData(UnpackRun& run, host::File& output, const std::string& stored_name,
               std::int32_t data_size, RecordEnd end, const attributes::Attributes* attributes) {
    auto copied = end == RecordEnd::AsSaid ? run.decoder.CopyData(output)
                                           : host::Result<std::int64_t>(std::int64_t{0});
    if (!copied) {
        ReportCannotWrite(stored_name);
        ReportPartial(stored_name);
        return Step::Stop;
    }
    if (attributes) ApplyAttributes(output, *attributes);
    const bool closed = output.Close().ok();
    if (!closed) ReportCannotWrite(stored_name);
    host::Print(".");
    host::FlushProgress();
    if (copied.value() < data_size || end == RecordEnd::InsideName) {
        ReportTruncated(run);
        ReportPartial(stored_name);
        return Step::Stop;
    }
    if (!closed) ReportPartial(stored_name);
    return Step::Next;
}

// A directory record: the directory is made (or kept), its attributes set
// at the end of the unpack.
host::Status MakeDirectoryRecord(UnpackRun& run, const std::string& path,
                                 const attributes::Attributes& attributes) {
    const std::string directory = DirectoryPath(path);
    if (directory.empty()) return host::Error{EEXIST, "mkdirat"};
    if (host::Status made = run.extractor.MakeDirectory(directory); !made) return made;
    run.directories.push_back({directory, attributes});
    return {};
}

// A link record: the link is made (replacing a file or link of its name)
// and its own time set; its target is text, never followed here.
host::Status MakeLinkRecord(UnpackRun& run, const std::string& path,
                            const attributes::Attributes& attributes) {
    if (attributes.link_target.empty()) return host::Error{ENOENT, "symlinkat"};
    if (host::Status made = run.extractor.MakeLink(path, attributes.link_target); !made) return made;
    if (HasTime(attributes)) (void)run.extractor.SetLinkTime(path, TimeOf(attributes));
    return {};
}

// A record of a directory or a link: no data of its own to write, a dot
// like a file.
Step ExtractWithoutData(UnpackRun& run, const std::string& stored_name, const std::string& path,
                        const attributes::Attributes& attributes) {
    const host::Status made = attributes.kind == attributes::Kind::Directory
                                  ? MakeDirectoryRecord(run, path, attributes)
                                  : MakeLinkRecord(run, path, attributes);
    if (!made) {
        ReportNotWritten(run, stored_name);
        return PassOver(run);
    }
    host::Print(".");
    host::FlushProgress();
    return PassOver(run);
}

// Recreates one record's file. Every line about it shows the part of the
// stored name before the NUL; the file is created under the exact name when
// the record holds one. Attribute text that cannot be read is ignored here
// (--test reports it).
Step ExtractFile(UnpackRun& run, const fmt::StoredNameParts& name,
                 std::int32_t data_size, RecordEnd end) {
    const std::string stored_name(name.program);
    if (!stored_name.empty()) EndUnnamedRun(run);
    const names::OutputName output_name = names::MakeOutputName(name.program, name.exact);
    if (!output_name.safe) {
        // A file the archive holds is not restored: the unpack has failed.
        host::Print("\nUnsafe name skipped `" + stored_name + "`\n");
        ReportOutcome(Outcome::Failed);
        return PassOver(run);
    }
    if (!output_name.removed.empty()) {
        host::Print("\nRemoving leading `" + output_name.removed + "' from `" + stored_name + "`\n");
    }
    std::optional<attributes::Attributes> attributes;
    if (name.has_attributes) attributes = attributes::Parse(name.attributes).attributes;
    if (attributes && attributes->kind != attributes::Kind::File && end == RecordEnd::AsSaid) {
        return ExtractWithoutData(run, stored_name, output_name.path, *attributes);
    }
    // An empty name names no file: nothing to try.
    host::Result<host::File> output = output_name.path.empty()
                                          ? host::Result<host::File>(host::Error{ENOENT, "openat"})
                                          : run.extractor.Create(output_name.path);
    if (!output) {
        ReportNotWritten(run, stored_name);
        return PassOver(run);
    }
    return WriteData(run, output.value(), stored_name, data_size, end,
                     attributes ? &*attributes : nullptr);
}

Step ReportDamage(UnpackRun& run, std::int64_t record_offset) {
    EndUnnamedRun(run);
    ReportError("Damaged Archive", run.archive.name + " at byte " + std::to_string(record_offset));
    return Step::Stop;
}

Step UnpackRecord(UnpackRun& run) {
    DecodedRecord record;
    if (run.decoder.Next(record)) {
        const fmt::StoredNameParts name = fmt::SplitStoredName(record.name_field);
        // A record not asked for is passed over without a dot.
        if (!IsChosen(name)) return PassOver(run);
        return ExtractFile(run, name, record.data_size, RecordEnd::AsSaid);
    }
    const std::optional<DecodeProblem>& problem = run.decoder.problem();
    if (!problem) return Step::Stop;  // the archive ends exactly after a record
    if (problem->kind == DecodeProblem::Kind::Damaged) return ReportDamage(run, problem->offset);
    if (!record.name_complete) {
        // The archive ends inside the name: the file is still made, empty,
        // under the part of the name before the NUL that was read.
        const fmt::StoredNameParts name{fmt::SplitStoredName(record.name_field).program, {}};
        if (IsChosen(name) && ExtractFile(run, name, 0, RecordEnd::InsideName) == Step::Stop) {
            return Step::Stop;
        }
    }
    // A read that failed counts as the end: what follows cannot be trusted.
    return ReportTruncated(run);
}

// Opens DIR_OUT, creating it when it is missing, and makes it the current
// directory; with an empty DIR_OUT the current directory is the output
// directory. Every file is then made beneath this descriptor.
std::optional<host::Folder> EnterOutputDirectory() {
    if (DIR_OUT.empty()) {
        if (auto here = host::Folder::Open(".")) return std::move(here.value());
    } else {
        const JobPath output = OutputDirectoryPath();
        auto folder = host::Folder::Open(output.path);
        if (!folder) {
            (void)CreateDir(output.path.c_str());
            folder = host::Folder::Open(output.path);
        }
        if (folder && folder.value().MakeCurrent()) return std::move(folder.value());
    }
    ReportError("Cannot Enter Output Directory", DIR_OUT);
    return std::nullopt;
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
    std::optional<host::Folder> output = EnterOutputDirectory();
    if (!output) return;
    if (!archive) {
        ReportError("Cannot Open Archive", archive_name);
        return;
    }
    // Records are read in small pieces: headers, names, small files.
    archive->file.ReadAhead(fmt::kCopyBufferSize);
    FileSource source(archive->file, archive->size);
    RecordDecoder decoder(source);
    fmt::HeaderBytes header{};
    if (!decoder.ReadHeader(header)) {
        ReportError("Not An Archive", archive_name);
        return;
    }
    ReportHeader(header);
    if (fmt::GetInt32(header.data() + fmt::kFileCountOffset) >= 1) {
        UnpackRun run{*archive, decoder, Extractor(std::move(*output), archive->identity)};
        while (UnpackRecord(run) == Step::Next) {
        }
        EndUnnamedRun(run);
        ApplyDirectoryAttributes(run);
    }
    host::FlushOutput();
    if (chosen_members != nullptr && selection::ReportNotFound(*chosen_members)) {
        ReportOutcome(Outcome::Failed);
    }
}

}  // namespace

void ChooseMembers(selection::MemberChoice* choice) { chosen_members = choice; }

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
