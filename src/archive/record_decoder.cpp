#include "archive/record_decoder.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace fmt = archive_format;

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
    if (!ReadUpTo(record.name_field.data(), record.name_field.size(), got)) return false;
    if (got < record.name_field.size()) {
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
    static constexpr std::size_t kPiece = 1 << 16;
    std::vector<char> buffer(static_cast<std::size_t>(std::min<std::int64_t>(data_left_, kPiece)));
    const std::int64_t record_end = offset_ + data_left_;
    while (data_left_ > 0) {
        std::size_t got = 0;
        const auto piece = static_cast<std::size_t>(std::min<std::int64_t>(data_left_, kPiece));
        if (!ReadUpTo(buffer.data(), piece, got)) return false;
        data_left_ -= static_cast<std::int64_t>(got);
        if (got < piece) {
            Fail(DecodeProblem::Kind::Truncated, offset_,
                 "the archive ends " + std::to_string(record_end - offset_) +
                     " bytes before the end of a record's data");
            data_left_ = 0;
            return false;
        }
    }
    return true;
}
