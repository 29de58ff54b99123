// The archive writer: streams the listed files into one archive.
//
// The archive is built in a temporary file beside its final name and renamed
// onto that name only once it is complete, so a failure or a kill never
// leaves a partial archive under the name. Each source is opened once and
// measured through the open file, and exactly the measured number of bytes is
// copied, so a record's data size always agrees with the data that follows it
// and the reader never loses its place.
//
// Small records are gathered in one buffer and written to the archive when it
// is full; large files are copied straight from the source to the archive.
// The buffer is also written out before anything is printed, so the
// transcript of a pack whose archive cannot be written stops where it would
// stop if every record were written at once: nothing is printed for entries
// after the one whose bytes failed to reach the archive. A source that fails
// while it is read is taken back out, so it leaves nothing in the archive,
// like a source that cannot be opened; only a failure to write the archive
// itself gives the archive up.
#include "archive/writer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "archive/attributes.h"
#include "archive/format.h"
#include "archive/job_state.h"
#include "archive/names.h"
#include "archive/outcome.h"
#include "archive/packed_archive.h"
#include "host/host.h"

namespace {

namespace fmt = archive_format;

std::function<void(const std::string&)> pack_source_hook;

// The archive's bytes on their way into the temporary file, gathered in one
// buffer. It remembers where each entry began, so that when writing fails the
// progress count is put back to where it stood when that entry was taken up,
// as if each record had been written at once, and so that an entry whose
// source fails can be taken out of the archive again.
class ArchiveSink {
public:
    explicit ArchiveSink(host::File file)
        : file_(std::move(file)), buffer_(fmt::kCopyBufferSize) {
        marks_.push_back({0, dot_draw});  // the archive header, before any entry
    }

    host::File& file() { return file_; }
    std::size_t capacity() const { return buffer_.size(); }

    // The bytes appended from now on belong to a new entry.
    void BeginEntry() { marks_.push_back({Gathered(), dot_draw}); }

    // Takes the entry begun last out of the archive: what is gathered of it
    // is dropped, and what already reached the file is cut off again.
    host::Status DropEntry() {
        const std::int64_t entry_start = marks_.back().archive_offset;
        if (entry_start >= flushed_) {
            used_ = static_cast<std::size_t>(entry_start - flushed_);
            return {};
        }
        if (host::Status cut = file_.Truncate(entry_start); !cut) return cut;
        if (host::Status moved = file_.SeekTo(entry_start); !moved) return moved;
        flushed_ = entry_start;
        used_ = 0;
        return {};
    }

    // Copies from the source straight to the file, past the buffer, which
    // must be drained.
    host::Result<std::int64_t> CopyFrom(host::File& source, std::int64_t count) {
        auto copied = file_.CopyFrom(source, count);
        if (copied) flushed_ += copied.value();
        return copied;
    }

    // Writes out what is gathered. On failure the progress count goes back
    // to the entry whose bytes could not be written, and the rest is dropped.
    host::Status Drain() {
        std::size_t done = 0;
        while (done < used_) {
            auto written = file_.Write(buffer_.data() + done, used_ - done);
            if (!written) {
                const Mark owner = OwnerOf(flushed_ + static_cast<std::int64_t>(done));
                dot_draw = owner.dot_draw;
                flushed_ += static_cast<std::int64_t>(done);
                Reset(owner);
                return written.error();
            }
            done += written.value();
        }
        flushed_ += static_cast<std::int64_t>(used_);
        Reset(marks_.back());
        return {};
    }

    host::Status Append(std::string_view bytes) {
        if (bytes.size() > capacity() - used_) {
            if (host::Status drained = Drain(); !drained) return drained;
            if (bytes.size() > capacity()) {
                if (host::Status written = file_.WriteAll(bytes.data(), bytes.size()); !written) {
                    return written;
                }
                flushed_ += static_cast<std::int64_t>(bytes.size());
                return {};
            }
        }
        std::memcpy(buffer_.data() + used_, bytes.data(), bytes.size());
        used_ += bytes.size();
        return {};
    }

    host::Status AppendZeros(std::int64_t count) {
        while (count > 0) {
            if (used_ == capacity()) {
                if (host::Status drained = Drain(); !drained) return drained;
            }
            const auto chunk = static_cast<std::size_t>(
                std::min<std::int64_t>(count, static_cast<std::int64_t>(capacity() - used_)));
            std::memset(buffer_.data() + used_, 0, chunk);
            used_ += chunk;
            count -= static_cast<std::int64_t>(chunk);
        }
        return {};
    }

    // Makes room for `count` bytes (at most the capacity) at the end of what
    // is gathered, writing out what is there when it does not fit.
    host::Status MakeRoom(std::size_t count) {
        if (count <= capacity() - used_) return {};
        return Drain();
    }
    // The free space after what is gathered, and taking `count` bytes of it.
    char* FreeSpace() { return buffer_.data() + used_; }
    void Take(std::size_t count) { used_ += count; }

private:
    struct Mark {
        std::int64_t archive_offset;  // where the entry's bytes begin in the archive
        std::int32_t dot_draw;        // the progress count when it was taken up
    };

    // The archive's size with what is gathered.
    std::int64_t Gathered() const { return flushed_ + static_cast<std::int64_t>(used_); }

    // The entry whose bytes include the one at `archive_offset`.
    Mark OwnerOf(std::int64_t archive_offset) const {
        auto after = std::upper_bound(
            marks_.begin(), marks_.end(), archive_offset,
            [](std::int64_t at, const Mark& mark) { return at < mark.archive_offset; });
        return *std::prev(after);  // the first mark never lies past the buffer's start
    }

    // Empties the buffer; the entry being written goes on, begun where it was.
    void Reset(Mark current) {
        used_ = 0;
        marks_.clear();
        marks_.push_back(current);
    }

    host::File file_;
    std::vector<char> buffer_;
    std::int64_t flushed_ = 0;  // bytes of the archive in the file; the buffer follows them
    std::size_t used_ = 0;
    std::vector<Mark> marks_;  // ordered by offset
};

// The archive being written.
struct ArchiveOutput {
    PackedArchive packed;  // where the archive goes: its folder, its name, its temporary file
    ArchiveSink sink;      // gathers the bytes for the temporary file
    // Identities that unmask a source naming the archive in another way.
    std::optional<host::FileIdentity> temporary_identity;
    std::optional<host::FileIdentity> existing_identity;  // an old file under the name
    host::FileOpener opener;                              // opens the sources
};

// Opens the sources in list order: ahead of the writer, on a thread of the
// host layer, or each when it is needed, while a test watches each source
// between its measuring and its copying (it may then change the files that
// come next). Every entry is taken up once, whether its source is opened
// for it or not, so that the files opened ahead stay in step with the list.
class SourceOpening {
public:
    SourceOpening(host::FileOpener& opener, std::size_t first, std::size_t count) : opener_(opener) {
        if (pack_source_hook) return;
        ahead_.emplace(opener, count, [first](std::size_t index, std::string& host_path) {
            Action_Mem.SourceInto(first + index, host_path);
        });
    }

    // The source of the entry taken up now, opened.
    host::Result<host::File> Open(const std::string& source) {
        taken_ = true;
        return ahead_ ? ahead_->Take(source) : opener_.OpenForReading(source);
    }
    // Ends the entry: a source opened ahead for it and not used is closed.
    void EndEntry(const std::string& source) {
        if (ahead_ && !taken_) {
            if (auto unused = ahead_->Take(source)) opener_.Retire(std::move(unused.value()));
        }
        taken_ = false;
    }

private:
    host::FileOpener& opener_;
    std::optional<host::FilesAhead> ahead_;
    bool taken_ = false;
};

// A source that passed every check: open, measured and not the archive.
struct MeasuredSource {
    host::File file;
    std::int32_t size = 0;
};

// Everything the writer prints while the archive is written goes through
// here: what is gathered reaches the archive first, and when it cannot,
// nothing is printed.
host::Status Say(ArchiveOutput& archive, const std::string& text) {
    if (host::Status drained = archive.sink.Drain(); !drained) return drained;
    host::Print(text);
    return {};
}

// `reason`, when given, is the system's reason, printed on the next line.
host::Status ReportError(ArchiveOutput& archive, Outcome outcome, const std::string& what,
                         const std::string& subject, const std::string& reason = "") {
    const std::string reason_line = reason.empty() ? "" : reason + "\n";
    const std::string text = "\n Error : " + what + " " + subject + "! \n" + reason_line;
    if (host::Status said = Say(archive, text); !said) return said;
    ReportOutcome(outcome);
    return {};
}

void ReportError(Outcome outcome, const std::string& what, const std::string& subject) {
    host::Print("\n Error : " + what + " " + subject + "! \n");
    ReportOutcome(outcome);
}

// One dot every refresh_draw entries; the count carries over to the next pack.
host::Status AdvanceProgress(ArchiveOutput& archive) {
    ++dot_draw;
    if (dot_draw < refresh_draw) return {};
    dot_draw = 0;
    if (host::Status said = Say(archive, "."); !said) return said;
    host::FlushOutput();
    return {};
}

host::Status ReportSelfInclusion(ArchiveOutput& archive, const std::string& source) {
    // Leaving the archive out is what was asked for: no failure is recorded.
    return Say(archive, "\n Error : Cannot Include In Output File the Output File :P " +
                            host::FromHostPath(source) + "! \n");
}

// The temporary archive goes beside the file it replaces, so that the final
// rename stays within one file system.
host::Result<ArchiveOutput> OpenArchiveOutput(const JobPath& target) {
    const std::string destination_path = ArchiveDestination(target.path);
    std::string destination;
    auto folder = host::Folder::Holding(destination_path, destination);
    if (!folder) return folder.error();
    std::string temporary_name;
    auto temporary = folder.value().CreateUnique(destination + ".tmp", temporary_name);
    if (!temporary) return temporary.error();
    ArchiveOutput archive{
        PackedArchive(target.shown, std::move(folder.value()), destination, temporary_name),
        ArchiveSink(std::move(temporary.value())), std::nullopt, std::nullopt, host::FileOpener()};
    if (auto identity = archive.sink.file().Identity()) {
        archive.temporary_identity = identity.value();
    }
    if (auto identity = host::IdentityOf(destination_path)) {
        archive.existing_identity = identity.value();
    }
    return archive;
}

bool IsTheArchive(const ArchiveOutput& archive, const host::FileInfo& source) {
    return source.identity == archive.temporary_identity ||
           source.identity == archive.existing_identity;
}

// Opens and measures a source; an empty `measured` when it is left out, which
// is reported here. The identity and the size both come from the one look
// taken when the source was opened.
host::Status MeasureSource(ArchiveOutput& archive, SourceOpening& opening,
                           const std::string& source, std::optional<MeasuredSource>& measured) {
    auto opened = opening.Open(source);
    auto info = opened ? opened.value().Info() : host::Result<host::FileInfo>(opened.error());
    if (!info) {
        return ReportError(archive, Outcome::Failed, "Cannot Open File", host::FromHostPath(source));
    }
    if (IsTheArchive(archive, info.value())) return ReportSelfInclusion(archive, source);
    // A directory, FIFO or device has no size to pack.
    if (info.value().kind != host::EntryKind::RegularFile) {
        return ReportError(archive, Outcome::Failed, "Cannot Open File", host::FromHostPath(source));
    }
    const std::int64_t size = info.value().size;
    if (size > fmt::kMaxDataSize) {
        return ReportError(archive, Outcome::Failed, "File Too Large For Archive",
                           host::FromHostPath(source));
    }
    measured = MeasuredSource{std::move(opened.value()), static_cast<std::int32_t>(size)};
    return {};
}

bool HasMoreBytes(host::File& source) {
    char extra = 0;
    auto read = source.Read(&extra, 1);
    return read && read.value() > 0;
}

// Pads a source that shrank with zero bytes up to its measured size, and
// reports a source that changed either way.
host::Status SettleChangedSource(ArchiveOutput& archive, std::int32_t size, std::int64_t copied,
                                 bool grew, const std::string& source_path) {
    const std::int64_t missing = size - copied;
    if (missing > 0) {
        if (host::Status padded = archive.sink.AppendZeros(missing); !padded) return padded;
    }
    if (missing > 0 || grew) {
        return ReportError(archive, Outcome::FileChanged, "File Changed While Packing",
                           host::FromHostPath(source_path));
    }
    return {};
}

// Takes the entry of a source that failed while it was read out of the
// archive again, so that it leaves nothing behind, like a source that could
// not be opened.
host::Status DropUnreadableSource(ArchiveOutput& archive, const std::string& source_path,
                                  const host::Error& error) {
    if (host::Status dropped = archive.sink.DropEntry(); !dropped) return dropped;
    return ReportError(archive, Outcome::Failed, "Cannot Read File",
                       host::FromHostPath(source_path), error.Text());
}

// Whether a failed copy failed on the source's side, not the archive's.
bool SourceFailed(const host::Error& error) { return std::string_view(error.call) == "read"; }

// Reads a source that fits the buffer straight behind its entry header, with
// room for one byte more: a source that grew shows without another read.
host::Status GatherSmallData(ArchiveOutput& archive, MeasuredSource& source,
                             const std::string& source_path) {
    const auto size = static_cast<std::size_t>(source.size);
    const std::size_t wanted = size + 1;
    char* data = archive.sink.FreeSpace();
    std::size_t got = 0;
    bool at_end = false;
    while (got < wanted && !at_end) {
        auto read = source.file.Read(data + got, wanted - got);
        if (!read) return DropUnreadableSource(archive, source_path, read.error());
        // A regular file delivers less than asked only at its end; a short
        // read before the measured size is looked at again all the same.
        at_end = read.value() == 0 || (got + read.value() >= size && read.value() < wanted - got);
        got += read.value();
    }
    const bool grew = got > size;
    const std::size_t kept = grew ? size : got;
    archive.sink.Take(kept);
    return SettleChangedSource(archive, source.size, static_cast<std::int64_t>(kept), grew,
                               source_path);
}

// Copies exactly source.size bytes: a file that shrank is padded with zero
// bytes, a file that grew is cut, and either is reported; a source that
// cannot be read is taken out again. Fails only when the archive cannot be
// written.
host::Status WriteRecord(ArchiveOutput& archive, MeasuredSource& source,
                         const std::string& source_path, const std::string& stored_name) {
    const auto header_bytes = fmt::EncodeRecordHeader(
        {source.size, static_cast<std::int32_t>(stored_name.size())});
    const std::string_view header(header_bytes.data(), header_bytes.size());
    ArchiveSink& sink = archive.sink;
    const std::size_t small_record =
        header.size() + stored_name.size() + static_cast<std::size_t>(source.size) + 1;
    if (small_record <= sink.capacity()) {
        if (host::Status room = sink.MakeRoom(small_record); !room) return room;
        sink.BeginEntry();
        (void)sink.Append(header);  // there is room: nothing is written here
        (void)sink.Append(stored_name);
        return GatherSmallData(archive, source, source_path);
    }
    sink.BeginEntry();
    if (host::Status written = sink.Append(header); !written) return written;
    if (host::Status written = sink.Append(stored_name); !written) return written;
    if (host::Status drained = sink.Drain(); !drained) return drained;
    auto copied = sink.CopyFrom(source.file, source.size);
    if (!copied && SourceFailed(copied.error())) {
        return DropUnreadableSource(archive, source_path, copied.error());
    }
    if (!copied) return copied.error();
    const bool grew = copied.value() == source.size && HasMoreBytes(source.file);
    return SettleChangedSource(archive, source.size, copied.value(), grew, source_path);
}

// The name field an entry is stored under, made fit by the rule for stored
// names; empty `storable` when the entry is left out, which is reported here.
host::Status MakeStorableName(ArchiveOutput& archive, const std::string& source,
                              const std::string& stored_name, std::optional<std::string>& storable) {
    names::Storable made = names::MakeStorable(stored_name);
    if (!made.removed.empty()) {
        const std::string shown(fmt::SplitStoredName(stored_name).program);
        const std::string notice =
            "\nRemoving leading `" + made.removed + "' from `" + shown + "`\n";
        if (host::Status said = Say(archive, notice); !said) return said;
    }
    // Nothing is left of a name made of prefixes and ".." alone.
    if (made.field.empty() && !made.removed.empty()) {
        return ReportError(archive, Outcome::Failed, "Empty Name For Archive",
                           host::FromHostPath(source));
    }
    if (!names::FitsArchive(made.field)) {
        return ReportError(archive, Outcome::Failed, "Name Too Long For Archive",
                           host::FromHostPath(source));
    }
    storable = std::move(made.field);
    return {};
}

// ---- Entries packed with their attributes ------------------------------------------

attributes::Attributes AttributesOf(attributes::Kind kind, std::uint32_t mode, host::FileTime mtime) {
    attributes::Attributes made;
    made.kind = kind;
    made.mode = mode & attributes::kModeBits;
    made.seconds = mtime.seconds;
    made.nanoseconds = mtime.nanoseconds;
    return made;
}

// Completes a name field that asks for attributes with their text; false
// when the whole no longer fits the archive, which is reported here.
host::Status AddAttributeText(ArchiveOutput& archive, const std::string& source,
                              const attributes::Attributes& attributes, std::string& field,
                              bool& fits) {
    field += attributes::Format(attributes);
    fits = names::FitsArchive(field);
    if (fits) return {};
    return ReportError(archive, Outcome::Failed, "Name Too Long For Archive",
                       host::FromHostPath(source));
}

// A directory or a symbolic link (never followed): a record of no data whose
// name carries what it is, its mode, its time and a link's target.
host::Status PackWithoutData(ArchiveOutput& archive, const std::string& source,
                             const host::LinkInfo& info, std::string field) {
    attributes::Attributes made = AttributesOf(
        info.is_link ? attributes::Kind::Link : attributes::Kind::Directory, info.mode, info.mtime);
    if (info.is_link) {
        auto target = host::ReadLink(host::HostPath{source});
        if (!target) {
            return ReportError(archive, Outcome::Failed, "Cannot Open File",
                               host::FromHostPath(source), target.error().Text());
        }
        made.link_target = std::move(target.value());
    }
    bool fits = false;
    if (host::Status added = AddAttributeText(archive, source, made, field, fits); !added || !fits) {
        return added;
    }
    const auto header = fmt::EncodeRecordHeader({0, static_cast<std::int32_t>(field.size())});
    archive.sink.BeginEntry();
    if (host::Status written = archive.sink.Append({header.data(), header.size()}); !written) {
        return written;
    }
    return archive.sink.Append(field);
}

// Packs one entry. A source that is left out is reported here and is no
// failure of the archive; the result fails only when the archive cannot be
// written any further.
host::Status PackEntry(ArchiveOutput& archive, SourceOpening& opening, const std::string& source,
                       const std::string& listed_name) {
    std::optional<std::string> stored_name;
    if (host::Status named = MakeStorableName(archive, source, listed_name, stored_name); !named) {
        return named;
    }
    if (!stored_name) return {};
    const bool with_attributes = fmt::SplitStoredName(*stored_name).has_attributes;
    if (with_attributes) {
        // What the name itself is now: a link is stored as the link.
        auto look = host::ExamineName(host::HostPath{source});
        if (!look) {
            return ReportError(archive, Outcome::Failed, "Cannot Open File",
                               host::FromHostPath(source));
        }
        if (look.value().is_link || look.value().kind == host::EntryKind::Directory) {
            return PackWithoutData(archive, source, look.value(), std::move(*stored_name));
        }
    }
    std::optional<MeasuredSource> measured;
    if (host::Status checked = MeasureSource(archive, opening, source, measured); !checked) {
        return checked;
    }
    if (!measured) return {};
    if (with_attributes) {
        // The mode and time of the very file whose bytes are packed.
        auto info = measured->file.Info();
        bool fits = info.ok();
        if (fits) {
            const attributes::Attributes made =
                AttributesOf(attributes::Kind::File, info.value().mode, info.value().mtime);
            if (host::Status added = AddAttributeText(archive, source, made, *stored_name, fits);
                !added) {
                return added;
            }
        }
        if (!fits) {
            archive.opener.Retire(std::move(measured->file));
            return {};
        }
    }
    if (pack_source_hook) pack_source_hook(source);
    host::Status written = WriteRecord(archive, *measured, source, *stored_name);
    archive.opener.Retire(std::move(measured->file));
    return written;
}

host::Status WriteArchive(ArchiveOutput& archive) {
    const auto header = fmt::EncodeHeader(actions_size);
    if (host::Status written = archive.sink.Append({header.data(), header.size()}); !written) {
        return written;
    }
    std::string source;  // the entry's strings, made in place for each entry
    std::string stored_name;
    SourceOpening opening(archive.opener, static_cast<std::size_t>(actions_point),
                          static_cast<std::size_t>(actions_size - actions_point));
    while (actions_point < actions_size) {
        const auto entry = static_cast<std::size_t>(actions_point++);
        if (host::Status advanced = AdvanceProgress(archive); !advanced) return advanced;
        Action_Mem.SourceInto(entry, source);
        Action_Mem.StoredNameInto(entry, stored_name);
        host::Status packed = PackEntry(archive, opening, source, stored_name);
        opening.EndEntry(source);
        if (!packed) return packed;
    }
    return {};
}

host::Status FinishArchive(ArchiveOutput& archive) {
    if (host::Status said = Say(archive, "\n"); !said) return said;
    return archive.sink.file().Close();
}

// Gives up on an archive that could not be written: the rest of the list is
// consumed and the temporary file removed, so nothing partial remains.
void AbandonArchive(const std::string& archive_path, const host::Error& error) {
    actions_point = actions_size;
    ReportError(Outcome::Failed, "Cannot Write Archive", archive_path);
    host::Print(error.Text() + "\n");
}

void RefuseArchive(const std::string& shown, const std::string& reason) {
    actions_point = actions_size;
    ReportError(Outcome::Failed, "Cannot Create Archive", shown);
    host::Print(reason + "\n");
}

}  // namespace

std::string ArchiveDestination(const std::string& archive_path) {
    auto info = host::Examine(archive_path);
    if (!info || !info.value().is_link || info.value().kind != host::EntryKind::RegularFile) {
        return archive_path;
    }
    auto resolved = host::ResolvedPath(archive_path);
    return resolved ? resolved.value() : archive_path;
}

bool RefuseSpecialTarget(const JobPath& archive) {
    auto info = host::Examine(archive.path);
    if (info && (!info.value().exists || info.value().kind == host::EntryKind::RegularFile)) {
        return false;
    }
    RefuseArchive(archive.shown, info ? "not a regular file" : info.error().Text());
    return true;
}

void SetPackSourceHook(std::function<void(const std::string& source)> hook) {
    pack_source_hook = std::move(hook);
}

std::optional<PackedArchive> PackToTemporary(std::string archive_name) {
    const JobPath target = OutputArchivePath(archive_name);
    const std::string& archive_path = target.shown;
    host::Print("packing 2 " + archive_path + "\n");
    if (RefuseSpecialTarget(target)) return std::nullopt;
    host::Result<ArchiveOutput> archive = OpenArchiveOutput(target);
    if (!archive) {
        actions_point = actions_size;
        ReportError(Outcome::Failed, "Cannot Create Archive", archive_path);
        return std::nullopt;
    }
    host::Print("Packing " + std::to_string(actions_size) + " files in " + archive_name + "\n");
    host::Status written = WriteArchive(archive.value());
    if (written) written = FinishArchive(archive.value());
    if (!written) {
        AbandonArchive(archive_path, written.error());
        return std::nullopt;  // the temporary file goes with the archive output
    }
    return std::move(archive.value().packed);
}

bool pack2files(std::string archive_name) {
    std::optional<PackedArchive> packed = PackToTemporary(std::move(archive_name));
    return packed && packed->Commit();
}
