#include "app/archive_listing.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "archive/attributes.h"
#include "archive/format.h"
#include "archive/names.h"
#include "archive/outcome.h"
#include "archive/record_decoder.h"
#include "archive/selection.h"
#include "compress/bz2_stream.h"
#include "host/host.h"

namespace {

namespace fmt = archive_format;

constexpr int kFailed = static_cast<int>(Outcome::Failed);

// bzip2 data decompressed as it is read.
class Bz2Source : public ByteSource {
public:
    explicit Bz2Source(host::File& file) : stream_(file) {}
    host::Result<std::size_t> Read(char* buffer, std::size_t capacity) override {
        return stream_.Read(buffer, capacity);
    }
    std::string Describe(const host::Error& error) const override {
        return DescribeBz2Failure(error);
    }

private:
    Bz2Stream stream_;
};

// The archive open for reading, through the decompressor when it is bzip2
// data. The source reads the file where it lies: the file stays in place
// while the object moves.
struct OpenedArchive {
    std::unique_ptr<host::File> file;
    std::unique_ptr<ByteSource> source;
};

std::optional<OpenedArchive> Open(const std::string& path) {
    auto file = host::File::OpenForReading(host::FromHostPath(path));
    auto info = file ? file.value().Info() : host::Result<host::FileInfo>(file.error());
    if (!info || info.value().kind != host::EntryKind::RegularFile) {
        const std::string reason = info ? "not a regular file" : info.error().Text();
        host::PrintError("varkel: cannot read " + path + ": " + reason + "\n");
        return std::nullopt;
    }
    OpenedArchive archive{std::make_unique<host::File>(std::move(file.value())), nullptr};
    char signature[2] = {};
    auto got = archive.file->ReadFull(signature, sizeof signature);
    const bool compressed = got && got.value() == 2 && signature[0] == 'B' && signature[1] == 'Z';
    if (!archive.file->Rewind()) return std::nullopt;
    if (compressed) {
        archive.source = std::make_unique<Bz2Source>(*archive.file);
    } else {
        archive.source = std::make_unique<FileSource>(*archive.file, info.value().size);
    }
    return archive;
}

// A name as a line can show it, control characters escaped (\n, \t, \ooo),
// so that every record takes exactly one line.
std::string Printable(std::string_view name) {
    std::string shown;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            shown += "\\n";
        } else if (c == '\t') {
            shown += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\%03o", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

// The name a record is listed under: its exact name when it carries one.
std::string ListedName(const std::string& field) {
    const fmt::StoredNameParts parts = fmt::SplitStoredName(field);
    return Printable(parts.exact.empty() ? parts.program : parts.exact);
}

std::string SizeColumn(std::int64_t size) {
    char column[32];
    std::snprintf(column, sizeof column, "%12lld", static_cast<long long>(size));
    return column;
}

// A record that carries attributes, in the layout of a long listing: mode,
// size, local time, name, and a link's target.
std::string AttributeLine(const DecodedRecord& record, const fmt::StoredNameParts& parts) {
    const attributes::Attributes attributes = attributes::Parse(parts.attributes).attributes;
    std::optional<std::string> time;
    if (attributes.has_time && attributes.time_fits) time = host::LocalMinuteText(attributes.seconds);
    std::string line = attributes::ModeText(attributes) + " " + SizeColumn(record.data_size) + " " +
                       time.value_or("?\?\?\?-?\?-?\? ?\?:?\?") + " " + ListedName(record.name_field);
    if (attributes.kind == attributes::Kind::Link) line += " -> " + Printable(attributes.link_target);
    return line + "\n";
}

std::string Summary(std::int64_t files, std::int64_t bytes) {
    return std::to_string(files) + (files == 1 ? " file, " : " files, ") + std::to_string(bytes) +
           (bytes == 1 ? " byte" : " bytes");
}

// The line the reader prints for the same fault.
std::string ReaderErrorLine(const DecodeProblem& problem, const std::string& path) {
    switch (problem.kind) {
        case DecodeProblem::Kind::NotAnArchive: return "\n Error : Not An Archive " + path + "! \n";
        case DecodeProblem::Kind::Truncated: return "\n Error : Truncated Archive " + path + "! \n";
        case DecodeProblem::Kind::Damaged:
        case DecodeProblem::Kind::ReadFailed:
            return "\n Error : Damaged Archive " + path + " at byte " +
                   std::to_string(problem.offset) + "! \n";
    }
    return {};
}

bool IsChosen(selection::MemberChoice& choice, const DecodedRecord& record) {
    const fmt::StoredNameParts parts = fmt::SplitStoredName(record.name_field);
    return choice.Takes(parts.program, parts.exact);
}

// The names that chose nothing, said on standard error once the archive has
// been read; whether there were any.
bool MissedNames(const selection::MemberChoice* choice) {
    return choice != nullptr && selection::ReportNotFound(*choice);
}

// What one pass over an archive found.
struct Pass {
    std::int64_t files = 0;  // records chosen, and their bytes
    std::int64_t bytes = 0;
    std::int64_t found = 0;  // every record
    std::int32_t counted = 0;  // the header's file count
    std::optional<DecodeProblem> problem;
    bool output_broken = false;  // the reader of the output has gone
};

// Decodes the archive from its header to its end, handing each record the
// choice takes (all without one) to `each`; nothing when it cannot be opened
// (said on standard error).
std::optional<Pass> PassOver(const std::string& path, selection::MemberChoice* choice,
                             const std::function<void(const DecodedRecord&)>& each) {
    std::optional<OpenedArchive> archive = Open(path);
    if (!archive) return std::nullopt;
    RecordDecoder decoder(*archive->source);
    fmt::HeaderBytes header{};
    Pass pass;
    if (decoder.ReadHeader(header)) {
        pass.counted = fmt::GetInt32(header.data() + fmt::kFileCountOffset);
        DecodedRecord record;
        while (decoder.Next(record)) {
            ++pass.found;
            if (choice != nullptr && !IsChosen(*choice, record)) continue;
            each(record);
            ++pass.files;
            pass.bytes += record.data_size;
            // A reader that has gone (head) ends the pass at once.
            if (host::OutputBroken()) {
                pass.output_broken = true;
                return pass;
            }
        }
    }
    pass.problem = decoder.problem();
    return pass;
}

}  // namespace

int ListArchive(const std::string& path, selection::MemberChoice* choice) {
    const std::optional<Pass> pass = PassOver(path, choice, [](const DecodedRecord& record) {
        const fmt::StoredNameParts parts = fmt::SplitStoredName(record.name_field);
        if (parts.has_attributes) {
            host::Print(AttributeLine(record, parts));
            return;
        }
        host::Print(SizeColumn(record.data_size) + "  " + ListedName(record.name_field) + "\n");
    });
    if (!pass || pass->output_broken) return kFailed;
    if (pass->problem) {
        host::Print(ReaderErrorLine(*pass->problem, path));
        host::FlushOutput();
        return kFailed;
    }
    host::Print(Summary(pass->files, pass->bytes) + "\n");
    if (MissedNames(choice)) return kFailed;
    return host::OutputFailed() ? kFailed : 0;
}

int TestArchive(const std::string& path, selection::MemberChoice* choice) {
    int problems = 0;
    const auto report = [&](std::int64_t offset, const std::string& what) {
        host::Print("byte " + std::to_string(offset) + ": " + what + "\n");
        ++problems;
    };
    const std::optional<Pass> pass = PassOver(path, choice, [&](const DecodedRecord& record) {
        const fmt::StoredNameParts parts = fmt::SplitStoredName(record.name_field);
        const names::OutputName output = names::MakeOutputName(parts.program, parts.exact);
        if (!output.safe) {
            report(record.offset, "unpacking would refuse the name `" + Printable(parts.program) + "'");
        } else if (!output.removed.empty()) {
            host::Print("byte " + std::to_string(record.offset) + ": note: unpacking takes `" +
                        Printable(output.removed) + "' off `" + Printable(parts.program) + "'\n");
        }
        if (!parts.has_attributes) return;
        for (const std::string& word : attributes::Parse(parts.attributes).malformed) {
            report(record.offset, "attribute `" + Printable(word) + "' of `" +
                                      Printable(parts.program) + "' cannot be read");
        }
    });
    if (!pass || pass->output_broken) return kFailed;
    if (pass->problem) {
        report(pass->problem->offset, pass->problem->detail);
    } else if (pass->counted != pass->found) {
        // The writer's own archives can differ: skipped entries, packs after BEGINLIST.
        host::Print("note: the header counts " + std::to_string(pass->counted) + " files, " +
                    std::to_string(pass->found) + " were found\n");
    }
    if (problems > 0) {
        host::Print("damaged: " + std::to_string(problems) + " problems\n");
        host::FlushOutput();
        return kFailed;
    }
    host::Print("ok: " + Summary(pass->files, pass->bytes) + "\n");
    if (MissedNames(choice)) return kFailed;
    return host::OutputFailed() ? kFailed : 0;
}
