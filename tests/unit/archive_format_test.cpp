// The archive layout: its integer fields, the bytes the writer produces, and
// archives that come back from the reader exactly as they went in.
#include "archive/format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "archive/reader.h"
#include "archive/writer.h"
#include "archive_test_support.h"

namespace {

using archive_testing::ArchiveTest;
using archive_testing::ParseArchive;
using archive_testing::StoredRecord;
using testing_support::CaptureStdout;
using testing_support::PatternBytes;
using testing_support::ReadBytes;

TEST(ArchiveFormatFields, Int32IsLittleEndianAndSignedBothWays) {
    struct Case {
        std::int32_t value;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {0, std::string(4, '\0')},
        {3, std::string("\x03\0\0\0", 4)},
        {0x01020304, "\x04\x03\x02\x01"},
        {-1, "\xFF\xFF\xFF\xFF"},
        {std::numeric_limits<std::int32_t>::min(), std::string("\0\0\0\x80", 4)},
        {std::numeric_limits<std::int32_t>::max(), "\xFF\xFF\xFF\x7F"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.value);
        char encoded[4] = {};
        archive_format::PutInt32(encoded, row.value);
        EXPECT_EQ(std::string(encoded, 4), row.bytes);
        EXPECT_EQ(archive_format::GetInt32(row.bytes.data()), row.value);
    }
}

TEST(ArchiveFormatFields, RecordHeaderKeepsSizeBeforeNameLength) {
    const auto bytes = archive_format::EncodeRecordHeader({3, -5});
    EXPECT_EQ(std::string(bytes.data(), bytes.size()), std::string("\x03\0\0\0\xFB\xFF\xFF\xFF", 8));
    const auto decoded = archive_format::DecodeRecordHeader(bytes);
    EXPECT_EQ(decoded.data_size, 3);
    EXPECT_EQ(decoded.name_length, -5);
}

TEST(ArchiveFormatNames, ExtendedNameSplitsAtItsNulsAndMustMirrorItsProgramForm) {
    namespace fmt = archive_format;
    const std::string extended = fmt::WithExactName("x\\y\\c", "x\\y/c");
    EXPECT_EQ(extended, std::string("x\\y\\c\0x\\y/c", 11));
    struct Case {
        std::string field;
        std::string program;
        std::string exact;
        bool matches;
    };
    const std::vector<Case> cases = {
        {"plain\\name", "plain\\name", "", false},
        {extended, "x\\y\\c", "x\\y/c", true},
        {std::string("a\\b\0a\\b\0words", 13), "a\\b", "a\\b", true},  // ends at the next NUL
        {std::string("c.txt\0", 6), "c.txt", "", false},
        {std::string("c.txt\0junk", 10), "c.txt", "junk", false},
        {std::string("a/b\0a/b", 7), "a/b", "a/b", false},     // '/' only stands for '\\'
        {std::string("a\\b\0a/c", 7), "a\\b", "a/c", false},
        {std::string("ab\0a", 4), "ab", "a", false},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.program + " | " + row.exact);
        const fmt::StoredNameParts parts = fmt::SplitStoredName(row.field);
        EXPECT_EQ(parts.program, row.program);
        EXPECT_EQ(parts.exact, row.exact);
        if (!row.exact.empty()) {
            EXPECT_EQ(fmt::ExactNameMatches(parts.program, parts.exact), row.matches);
        }
    }
}

using ArchiveFormatTest = ArchiveTest;

TEST_F(ArchiveFormatTest, OneSmallFileGivesTheDocumentedTwentyEightBytes) {
    AddSource("a.txt", "abc", "a.txt");
    CaptureStdout([] { pack2files("a.vk"); });
    const std::string expected("VK1\0"
                               "\0\0\0\0"
                               "\x01\0\0\0"
                               "\x03\0\0\0"
                               "\x05\0\0\0"
                               "a.txtabc",
                               28);
    EXPECT_EQ(ArchiveBytes(), expected);
}

TEST_F(ArchiveFormatTest, EmptyListGivesTheHeaderAlone) {
    CaptureStdout([] { pack2files("a.vk"); });
    EXPECT_EQ(ArchiveBytes(), std::string("VK1\0\0\0\0\0\0\0\0\0", 12));
}

TEST_F(ArchiveFormatTest, SecondPackOfAConsumedListCountsTheWholeList) {
    AddSource("one", "1", "one");
    AddSource("two", "2", "two");
    CaptureStdout([] { pack2files("first.vk"); });
    CaptureStdout([] { pack2files("second.vk"); });
    const auto second = ParseArchive(ArchiveBytes("second.vk"));
    EXPECT_EQ(second.file_count, 2);
    EXPECT_TRUE(second.records.empty());
    EXPECT_TRUE(second.well_formed);
}

TEST_F(ArchiveFormatTest, RoundTripRestoresEveryFileByteForByte) {
    struct Case {
        const char* label;
        std::string stored_name;
        std::string content;
    };
    const std::vector<Case> cases = {
        {"empty file", "empty.txt", ""},
        {"several copy buffers", "large.bin", PatternBytes(3 * 65536 + 123)},
        {"blanks in directory and name", "with blanks\\a b c.txt", "blanks"},
        {"nested directories", "sub\\deeper\\f.bin", PatternBytes(1000)},
        {"same directory again", "sub\\deeper\\g.bin", "g"},
        {"back to the parent", "sub\\h.txt", "h"},
        {"exactly one buffer", "buffer.bin", PatternBytes(65536)},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        AddSource("source" + std::to_string(i), cases[i].content, cases[i].stored_name);
    }
    CaptureStdout([] { pack2files("a.vk"); });
    DIR_OUT = scratch.ProgramPath("restored") + "\\";
    const std::string transcript =
        CaptureStdout([&] { unpackfiles(scratch.ProgramPath("out\\a.vk")); });

    EXPECT_TRUE(transcript.ends_with("\n\n" + std::string(cases.size(), '.'))) << transcript;
    for (const Case& row : cases) {
        SCOPED_TRACE(row.label);
        std::string host_name = row.stored_name;
        std::replace(host_name.begin(), host_name.end(), '\\', '/');
        EXPECT_EQ(ReadBytes(scratch.Path("restored/" + host_name)), row.content);
    }
    EXPECT_EQ(RunOutcome(), Outcome::Clean);
}

TEST_F(ArchiveFormatTest, ExtendedNamesRoundTripBesideTheirLookalikes) {
    using archive_format::WithExactName;
    // Listed as the directory walker lists a tree holding a file "a\\b"
    // beside the directory "a" with "b", and a directory "x\\y" with "c".
    AddSource("one", "in a", "a\\b");
    AddSource("two", "backslash", WithExactName("a\\b", "a\\b"));
    AddSource("three", "in x\\y", WithExactName("x\\y\\c", "x\\y/c"));
    // A name that climbed out keeps its exact form once the climb is taken off.
    AddSource("four", "climbed", WithExactName("..\\p\\q", "../p\\q"));
    CaptureStdout([] { pack2files("a.vk"); });
    DIR_OUT = scratch.ProgramPath("restored") + "\\";
    const std::string transcript =
        CaptureStdout([&] { unpackfiles(scratch.ProgramPath("out\\a.vk")); });

    EXPECT_TRUE(transcript.ends_with("\n\n....")) << transcript;
    const std::map<std::string, std::string> expected = {
        {"a/b", "in a"}, {"a\\b", "backslash"}, {"x\\y/c", "in x\\y"}, {"p\\q", "climbed"}};
    std::map<std::string, std::string> restored;
    const std::filesystem::path root = scratch.Path("restored");
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) {
            restored[entry.path().lexically_relative(root).string()] = ReadBytes(entry.path());
        }
    }
    EXPECT_EQ(restored, expected);
    EXPECT_EQ(RunOutcome(), Outcome::Clean);
}

TEST_F(ArchiveFormatTest, EmptyStoredNameIsRecordedAndItsDataPassedOver) {
    AddSource("nameless", "lost", "");
    AddSource("named", "kept", "named.txt");
    CaptureStdout([] { pack2files("a.vk"); });
    EXPECT_EQ(ParseArchive(ArchiveBytes()).records,
              (std::vector<StoredRecord>{{"", "lost"}, {"named.txt", "kept"}}));

    DIR_OUT = scratch.ProgramPath("restored") + "\\";
    const std::string transcript =
        CaptureStdout([&] { unpackfiles(scratch.ProgramPath("out\\a.vk")); });
    EXPECT_TRUE(transcript.ends_with("\n\n\nCould not write ``\n.")) << transcript;
    EXPECT_EQ(ReadBytes(scratch.Path("restored/named.txt")), "kept");
    EXPECT_EQ(RunOutcome(), Outcome::Failed);
}

}  // namespace
