#include "compress/bz2_stream.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "host/host.h"
#include "scratch_dir.h"

namespace {

using testing_support::PatternBytes;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WriteBytes;

// `data` compressed by the installed bzip2 (the real thing, not libbz2 itself).
std::string Compressed(ScratchDir& scratch, const std::string& data, const char* compressor) {
    const std::string plain = scratch.Path("plain");
    WriteBytes(plain, data);
    auto ran = host::RunAndWait({"sh", "-c", std::string(compressor) + " -zc plain > packed"});
    EXPECT_TRUE(ran && ran.value().succeeded()) << compressor;
    return ReadBytes(scratch.Path("packed"));
}

struct Outcome {
    std::string data;
    std::string failure;  // empty when the stream ended well
};

// Reads the whole stream from a file holding `bytes`, in pieces of `piece` bytes.
Outcome ReadAll(ScratchDir& scratch, const std::string& bytes, std::size_t piece = 7000) {
    WriteBytes(scratch.Path("input"), bytes);
    auto file = host::File::OpenForReading(testing_support::ProgramForm(scratch.Path("input")));
    EXPECT_TRUE(file.ok());
    Bz2Stream stream(file.value());
    Outcome outcome;
    std::vector<char> buffer(piece);
    for (;;) {
        auto got = stream.Read(buffer.data(), buffer.size());
        if (!got) {
            outcome.failure = DescribeBz2Failure(got.error());
            break;
        }
        if (got.value() == 0) break;
        outcome.data.append(buffer.data(), got.value());
    }
    EXPECT_EQ(stream.delivered(), static_cast<std::int64_t>(outcome.data.size()));
    return outcome;
}

TEST(Bz2Stream, ReadsWhatTheToolsWroteAndRefusesWhatIsDamaged) {
    ScratchDir scratch;
    testing_support::ScopedCurrentDirectory inside(scratch.path());
    const std::string data = PatternBytes(300000) + std::string(200000, 'z');
    const std::string by_bzip2 = Compressed(scratch, data, "bzip2");
    const std::string by_lbzip2 = Compressed(scratch, data, "lbzip2");
    ASSERT_FALSE(by_bzip2.empty());
    std::string flipped = by_bzip2;
    flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x40);
    struct Case {
        const char* label;
        std::string bytes;
        std::string data;     // expected when it reads whole
        std::string failure;  // expected failure, or empty
    };
    const std::vector<Case> cases = {
        {"bzip2's stream", by_bzip2, data, ""},
        {"lbzip2's stream", by_lbzip2, data, ""},
        {"two streams one after the other", by_bzip2 + by_lbzip2, data + data, ""},
        {"empty data compressed", Compressed(scratch, "", "bzip2"), "", ""},
        {"cut in the middle", by_bzip2.substr(0, by_bzip2.size() / 2), "",
         "compressed data ends early"},
        {"last byte missing", by_bzip2.substr(0, by_bzip2.size() - 1), "",
         "compressed data ends early"},
        {"a flipped bit", flipped, "", "data integrity error (CRC)"},
        {"garbage after the stream", by_bzip2 + "garbage", "", "not bzip2 data"},
        {"not bzip2 at all", "VK1 plain archive", "", "not bzip2 data"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.label);
        const Outcome outcome = ReadAll(scratch, row.bytes);
        EXPECT_EQ(outcome.failure, row.failure);
        if (row.failure.empty()) {
            EXPECT_TRUE(outcome.data == row.data) << outcome.data.size();
        }
    }
}

}  // namespace
