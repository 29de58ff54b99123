// The archive writer: streams the listed files into one archive.
//
// The archive is built in a temporary file beside its final name and renamed
// onto that name only once it is complete, so a failure or a kill never
// leaves a partial archive under the name. Each source is opened once and
// measured through the open file, and exactly the measured number of bytes is
// copied, so a record's data size always agrees with the data that follows it
// and the reader never loses its place.
#include "archive/writer.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "archive/format.h"
#include "archive/job_state.h"
#include "archive/outcome.h"
#include "host/host.h"
#include "paths/path_helpers.h"

namespace {

namespace fmt = archive_format;

std::function<void(const std::string&)> pack_source_hook;

// The archive being written.
struct ArchiveOutput {
    std::string path;  // DIR_OUT + archive name: where the finished archive goes
    host::File file;   // the temporary file that receives the bytes
    // Identities that unmask a source naming the archive in another way.
    std::optional<host::FileIdentity> temporary_identity;
    std::optional<host::FileIdentity> existing_identity;  // an old file under the name
};

// A source that passed every check: open, measured and not the archive.
struct MeasuredSource {
    host::File file;
    std::int32_t size = 0;
};

void ReportError(Outcome outcome, const std::string& what, const std::string& subject) {
    host::Print("\n Error : " + what + " " + subject + "! \n");
    ReportOutcome(outcome);
}

// One dot every refresh_draw entries; the count carries over to the next pack.
void AdvanceProgress() {
    ++dot_draw;
    if (dot_draw < refresh_draw) return;
    dot_draw = 0;
    host::Print(".");
    host::FlushOutput();
}

void ReportSelfInclusion(const std::string& source) {
    // Leaving the archive out is what was asked for: no failure is recorded.
    host::Print("\n Error : Cannot Include In Output File the Output File :P " + source + "! \n");
}

std::optional<ArchiveOutput> OpenArchiveOutput(const std::string& path) {
    auto temporary = host::File::CreateTemporaryBeside(path);
    if (!temporary) return std::nullopt;
    ArchiveOutput archive{path, std::move(temporary.value()), std::nullopt, std::nullopt};
    if (auto identity = archive.file.Identity()) archive.temporary_identity = identity.value();
    if (auto identity = host::IdentityOf(path)) archive.existing_identity = identity.value();
    return archive;
}

bool IsTheArchive(const ArchiveOutput& archive, const host::File& source) {
    auto identity = source.Identity();
    if (!identity) return false;
    return identity.value() == archive.temporary_identity ||
           identity.value() == archive.existing_identity;
}

// Opens and measures a source, or says why it is left out.
std::optional<MeasuredSource> MeasureSource(const ArchiveOutput& archive, const std::string& source) {
    auto opened = host::File::OpenForReading(source);
    if (!opened) {
        ReportError(Outcome::Failed, "Cannot Open File", source);
        return std::nullopt;
    }
    if (IsTheArchive(archive, opened.value())) {
        ReportSelfInclusion(source);
        return std::nullopt;
    }
    auto size = opened.value().Size();  // fails for a directory
    if (!size) {
        ReportError(Outcome::Failed, "Cannot Open File", source);
        return std::nullopt;
    }
    if (size.value() > fmt::kMaxDataSize) {
        ReportError(Outcome::Failed, "File Too Large For Archive", source);
        return std::nullopt;
    }
    return MeasuredSource{std::move(opened.value()), static_cast<std::int32_t>(size.value())};
}

host::Status WriteZeros(host::File& archive, std::int64_t count) {
    const std::vector<char> zeros(fmt::kCopyBufferSize, 0);
    while (count > 0) {
        const auto chunk = static_cast<std::size_t>(
            std::min<std::int64_t>(count, static_cast<std::int64_t>(zeros.size())));
        if (host::Status written = archive.WriteAll(zeros.data(), chunk); !written) return written;
        count -= static_cast<std::int64_t>(chunk);
    }
    return {};
}

bool HasMoreBytes(host::File& source) {
    char extra = 0;
    auto read = source.Read(&extra, 1);
    return read && read.value() > 0;
}

// Copies exactly source.size bytes: a file that shrank is padded with zero
// bytes, a file that grew is cut, and either is reported. Fails only when
// the archive cannot be written (or the source cannot be read at all).
host::Status CopySourceData(host::File& archive, MeasuredSource& source,
                            const std::string& source_path) {
    auto copied = archive.CopyFrom(source.file, source.size);
    if (!copied) return copied.error();
    const std::int64_t missing = source.size - copied.value();
    if (missing > 0) {
        if (host::Status padded = WriteZeros(archive, missing); !padded) return padded;
    }
    if (missing > 0 || HasMoreBytes(source.file)) {
        ReportError(Outcome::FileChanged, "File Changed While Packing", source_path);
    }
    return {};
}

host::Status WriteRecord(host::File& archive, MeasuredSource& source, const std::string& source_path,
                         const std::string& stored_name) {
    const auto header = fmt::EncodeRecordHeader(
        {source.size, static_cast<std::int32_t>(stored_name.size())});
    if (host::Status written = archive.WriteAll(header.data(), header.size()); !written) {
        return written;
    }
    if (host::Status written = archive.WriteAll(stored_name.data(), stored_name.size()); !written) {
        return written;
    }
    return CopySourceData(archive, source, source_path);
}

// Packs one entry. A source that is left out is reported here and is no
// failure of the archive; the result fails only when the archive cannot be
// written any further.
host::Status PackEntry(ArchiveOutput& archive, const std::string& source,
                       const std::string& stored_name) {
    if (EqualIgnoreCase(archive.path, source)) {
        ReportSelfInclusion(source);
        return {};
    }
    std::optional<MeasuredSource> measured = MeasureSource(archive, source);
    if (!measured) return {};
    if (pack_source_hook) pack_source_hook(source);
    return WriteRecord(archive.file, *measured, source, stored_name);
}

host::Status WriteArchive(ArchiveOutput& archive) {
    const auto header = fmt::EncodeHeader(actions_size);
    if (host::Status written = archive.file.WriteAll(header.data(), header.size()); !written) {
        return written;
    }
    while (actions_point < actions_size) {
        const auto entry = static_cast<std::size_t>(actions_point++);
        AdvanceProgress();
        host::Status packed = PackEntry(archive, Action_Mem[0][entry], Action_Mem[1][entry]);
        if (!packed) return packed;
    }
    return {};
}

host::Status FinishArchive(ArchiveOutput& archive) {
    host::Print("\n");
    if (host::Status closed = archive.file.Close(); !closed) return closed;
    return host::RenameFile(archive.file.TemporaryName(), archive.path);
}

// Gives up on an archive that could not be written: the rest of the list is
// consumed and the temporary file removed, so nothing partial remains.
void AbandonArchive(ArchiveOutput& archive, const host::Error& error) {
    actions_point = actions_size;
    ReportError(Outcome::Failed, "Cannot Write Archive", archive.path);
    host::Print(error.Text() + "\n");
    (void)archive.file.Close();
    (void)host::RemoveFile(archive.file.TemporaryName());
}

}  // namespace

void SetPackSourceHook(std::function<void(const std::string& source)> hook) {
    pack_source_hook = std::move(hook);
}

void pack2files(std::string archive_name) {
    const std::string archive_path = DIR_OUT + archive_name;
    host::Print("packing 2 " + archive_path + "\n");
    std::optional<ArchiveOutput> archive = OpenArchiveOutput(archive_path);
    if (!archive) {
        actions_point = actions_size;
        ReportError(Outcome::Failed, "Cannot Create Archive", archive_path);
        return;
    }
    host::Print("Packing " + std::to_string(actions_size) + " files in " + archive_name + "\n");
    host::Status written = WriteArchive(*archive);
    if (written) written = FinishArchive(*archive);
    if (!written) AbandonArchive(*archive, written.error());
}
