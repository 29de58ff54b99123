#include "archive/record_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "archive_test_support.h"

namespace {

using archive_testing::ArchiveHeader;
using archive_testing::Record;
using Kind = DecodeProblem::Kind;

// Bytes in memory, handed out a few at a time as a pipe would.
class MemorySource : public ByteSource {
public:
    explicit MemorySource(std::string bytes) : bytes_(std::move(bytes)) {}
    host::Result<std::size_t> Read(char* buffer, std::size_t capacity) override {
        const std::size_t count = std::min({capacity, bytes_.size() - at_, std::size_t{5}});
        std::memcpy(buffer, bytes_.data() + at_, count);
        at_ += count;
        return count;
    }

private:
    std::string bytes_;
    std::size_t at_ = 0;
};

struct Decoded {
    std::vector<std::string> names;
    std::optional<DecodeProblem> problem;
};

Decoded Decode(const std::string& bytes) {
    MemorySource source(bytes);
    RecordDecoder decoder(source);
    Decoded decoded;
    archive_format::HeaderBytes header{};
    if (decoder.ReadHeader(header)) {
        DecodedRecord record;
        while (decoder.Next(record)) decoded.names.push_back(record.name_field);
    }
    decoded.problem = decoder.problem();
    return decoded;
}

TEST(RecordDecoder, FindsEveryRecordAndSaysWhereAnArchiveGoesWrong) {
    const std::string two = ArchiveHeader(2) + Record("a.txt", "alpha") + Record("b", "beta");
    const std::string exact = std::string("x\\y\0x/y", 7);
    struct Case {
        const char* label;
        std::string bytes;
        std::vector<std::string> names;
        std::optional<Kind> kind;
        std::int64_t offset;
    };
    const std::vector<Case> cases = {
        {"whole", two, {"a.txt", "b"}, std::nullopt, 0},
        {"an extended name", ArchiveHeader(1) + Record(exact, "z"), {exact}, std::nullopt, 0},
        {"no signature", "PK" + two.substr(2), {}, Kind::NotAnArchive, 0},
        {"shorter than a header", two.substr(0, 7), {}, Kind::NotAnArchive, 0},
        {"cut inside the second record's header", two.substr(0, 12 + 18 + 3), {"a.txt"},
         Kind::Truncated, 30},
        {"cut inside a name", two.substr(0, 12 + 8 + 2), {}, Kind::Truncated, 12},
        {"cut inside the data", two.substr(0, 12 + 18 - 2), {"a.txt"}, Kind::Truncated, 28},
        {"ends exactly after a record", two.substr(0, 12 + 18), {"a.txt"}, std::nullopt, 0},
        {"impossible name length", ArchiveHeader(1) + std::string("\1\0\0\0\xff\xff\0\0", 8),
         {}, Kind::Damaged, 12},
        {"exact name that is not the name shown",
         ArchiveHeader(1) + Record(std::string("x\\y\0x/z", 7), "z"), {}, Kind::Damaged, 12},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.label);
        const Decoded decoded = Decode(row.bytes);
        EXPECT_EQ(decoded.names, row.names);
        ASSERT_EQ(decoded.problem.has_value(), row.kind.has_value());
        if (!row.kind) continue;
        EXPECT_EQ(decoded.problem->kind, *row.kind);
        if (*row.kind != Kind::NotAnArchive) {
            EXPECT_EQ(decoded.problem->offset, row.offset);
        }
    }
}

}  // namespace
