#include "archive/record_decoder.h"

#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

namespace fmt = archive_format;

namespace {

// Reads up to `count` bytes from `source` in pieces, handing each to `take`;
// the bytes read (fewer only at the end).
host::Result<std::int64_t> Pump(ByteSource& source, std::int64_t count,
                                const std::function<host::Status(const char*, std::size_t)>& take) {
    std::vector<char> buffer(static_cast<std::size_t>(std::min<std::int64_t>(count, 1 << 16)));
    std::int64_t done = 0;
    while (done < count) {
        const auto piece = static_cast<std::size_t>(
            std::min<std::int64_t>(count - done, static_cast<std::int64_t>(buffer.size())));
        auto got = source.Read(buffer.data(), piece);
        if (!got) return got.error();
        if (got.value() == 0) break;
        if (host::Status taken = take(buffer.data(), got.value()); !taken) return taken.error();
        done += static_cast<std::int64_t>(got.value());
    }
    return done;
}

}  // namespace

host::Result<std::int64_t> ByteSource::Skip(std::int64_t count) {
    return Pump(*this, count, [](const char*, std::size_t) { return host::Status(); });
}

host::Result<std::int64_t> ByteSource::CopyTo(host::File& out, std::int64_t count) {
    return Pump(*this, count,
                [&](const char* data, std::size_t size) { return out.WriteAll(data, size); });
}

host::Result<std::size_t> FileSource::Read(char* buffer, std::size_t capacity) {
    auto got = file_.Read(buffer, capacity);
    if (got) position_ += static_cast<std::int64_t>(got.value());
    return got;
}

host::Result<std::int64_t> FileSource::Skip(std::int64_t count) {
    // Past the end a file's position moves without complaint: the size says
    // how far there is data.
    const std::int64_t skipped = std::max<std::int64_t>(0, std::min(count, size_ - position_));
    if (host::Status moved = file_.Skip(skipped); !moved) return moved.error();
    position_ += skipped;
    return skipped;
}

host::Result<std::int64_t> FileSource::CopyTo(host::File& out, std::int64_t count) {
    auto copied = out.CopyFrom(file_, count);
    if (copied) position_ += copied.value();
    return copied;
}

void RecordDecoder::Fail(DecodeProblem::Kind kind, std::int64_t offset, std::string detail) {
    problem_ = DecodeProblem{kind, offset, std::move(detail)};
}

bool RecordDecoder::ReadUpTo(char* buffer, std::size_t count, std::size_t& got) {
    got = 0;
    while (got < count) {
        auto read = source_.Read(buffer + got, count - got);
        if (!read) {
            Fail(DecodeProblem::Kind::ReadFailed, offset_ + static_cast<std::int64_t>(got),
                 source_.Describe(read.error()));
            return false;
        }
        if (read.value() == 0) break;
        got += read.value();
    }
    offset_ += static_cast<std::int64_t>(got);
    return true;
}

bool RecordDecoder::ReadHeader(fmt::HeaderBytes& header) {
    std::size_t got = 0;
    if (!ReadUpTo(header.data(), header.size(), got)) return false;
    if (got < header.size() ||
        std::string_view(header.data(), fmt::kMagic.size()) != fmt::kMagic) {
        Fail(DecodeProblem::Kind::NotAnArchive, 0, "no archive signature");
        return false;
    }
    return true;
}

bool RecordDecoder::Next(DecodedRecord& record) {
    if (problem_ || (data_left_ > 0 && !SkipData())) return false;
    record.offset = offset_;
    fmt::RecordHeaderBytes header_bytes{};
    std::size_t got = 0;
    if (!ReadUpTo(header_bytes.data(), header_bytes.size(), got)) return false;
    if (got == 0) return false;  // the archive ends exactly after a record
    if (got < header_bytes.size()) {
        Fail(DecodeProblem::Kind::Truncated, record.offset, "the archive ends inside a record header");
        return false;
    }
    const fmt::RecordHeader header = fmt::DecodeRecordHeader(header_bytes);
    if (header.data_size < 0 || header.name_length < 0 ||
        header.name_length > fmt::kMaxNameFieldLength) {
        Fail(DecodeProblem::Kind::Damaged, record.offset,
             "impossible record (data size " + std::to_string(header.data_size) + ", name length " +
                 std::to_string(header.name_length) + ")");
        return false;
    }
    record.data_size = header.data_size;
    record.name_field.assign(static_cast<std::size_t>(header.name_length), '\0');
    record.name_complete = true;
    if (!ReadUpTo(record.name_field.data(), record.name_field.size(), got)) return false;
    if (got < record.name_field.size()) {
        record.name_field.resize(got);
        record.name_complete = false;
        Fail(DecodeProblem::Kind::Truncated, record.offset, "the archive ends inside a name");
        return false;
    }
    const fmt::StoredNameParts parts = fmt::SplitStoredName(record.name_field);
    if (!parts.exact.empty() && !fmt::ExactNameMatches(parts.program, parts.exact)) {
        Fail(DecodeProblem::Kind::Damaged, record.offset,
             "the exact name does not match the name shown");
        return false;
    }
    data_left_ = header.data_size;
    return true;
}

bool RecordDecoder::SkipData() {
    const std::int64_t wanted = data_left_;
    data_left_ = 0;
    auto skipped = source_.Skip(wanted);
    if (!skipped) {
        Fail(DecodeProblem::Kind::ReadFailed, offset_, source_.Describe(skipped.error()));
        return false;
    }
    offset_ += skipped.value();
    if (skipped.value() < wanted) {
        Fail(DecodeProblem::Kind::Truncated, offset_,
             "the archive ends " + std::to_string(wanted - skipped.value()) +
                 " bytes before the end of a record's data");
        return false;
    }
    return true;
}

host::Result<std::int64_t> RecordDecoder::CopyData(host::File& out) {
    const std::int64_t wanted = data_left_;
    data_left_ = 0;
    auto copied = source_.CopyTo(out, wanted);
    if (!copied) {
        Fail(DecodeProblem::Kind::ReadFailed, offset_, source_.Describe(copied.error()));
        return copied.error();
    }
    offset_ += copied.value();
    if (copied.value() < wanted) {
        Fail(DecodeProblem::Kind::Truncated, offset_,
             "the archive ends " + std::to_string(wanted - copied.value()) +
                 " bytes before the end of a record's data");
    }
    return copied.value();
}
