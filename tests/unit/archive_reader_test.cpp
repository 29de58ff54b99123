// The archive reader against crafted archives: its transcript, the output
// directory, malformed and cut-off archives, hostile stored names, and
// files that cannot be written.
#include "archive/reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/extractor.h"
#include "archive_test_support.h"

namespace {

using archive_testing::ArchiveHeader;
using archive_testing::ArchiveTest;
using archive_testing::EntryHeader;
using archive_testing::Record;
using archive_testing::RunWithFileSizeLimit;
using testing_support::CaptureStdout;
using testing_support::PatternBytes;
using testing_support::ReadBytes;
using testing_support::WriteBytes;

const std::string kPreamble =
    "char* StartingDir;\n"
    "GetCurrentDirectory(DirNameSize,StartingDir); TODO TODO TODO !\n"
    "SetCurrentDirectory(DIR_OUT.c_str());\n";

std::string HeaderReport(int file_count) {
    return "VK\nPassword protection = 1\nSize = 0\nFiles inside = " + std::to_string(file_count) +
           "\n\n";
}

// Archives are crafted in the scratch directory, next to "out".
class ArchiveReaderTest : public ArchiveTest {
protected:
    std::string Unpack(const std::string& archive_bytes) {
        WriteBytes(scratch.Path("a.vk"), archive_bytes);
        return CaptureStdout([&] { unpackfiles(ArchiveName()); });
    }
    std::string ArchiveName() const { return scratch.ProgramPath("a.vk"); }
    // Every regular file under "out", by its path relative to it, with its content.
    std::map<std::string, std::string> Unpacked() const {
        std::map<std::string, std::string> files;
        const std::filesystem::path out = scratch.Path("out");
        for (const auto& entry : std::filesystem::recursive_directory_iterator(out)) {
            if (entry.is_regular_file()) {
                files[entry.path().lexically_relative(out).string()] = ReadBytes(entry.path());
            }
        }
        return files;
    }
    void ClearOut() {
        std::filesystem::remove_all(scratch.Path("out"));
        std::filesystem::create_directory(scratch.Path("out"));
    }
};

using Files = std::map<std::string, std::string>;

TEST_F(ArchiveReaderTest, DocumentedSmallArchiveTranscriptIsExact) {
    const std::string archive = ArchiveHeader(1) + Record("a.txt", "abc");
    ASSERT_EQ(archive.size(), 28u);
    EXPECT_EQ(Unpack(archive), kPreamble + HeaderReport(1) + ".");
    EXPECT_EQ(Unpacked(), (Files{{"a.txt", "abc"}}));
    EXPECT_EQ(std::filesystem::current_path(), scratch.Path("out"));
    EXPECT_EQ(RunOutcome(), Outcome::Clean);
}

TEST_F(ArchiveReaderTest, EmptyOutputDirectoryMeansTheCurrentOne) {
    DIR_OUT.clear();
    std::filesystem::current_path(scratch.Path("out"));
    EXPECT_EQ(Unpack(ArchiveHeader(1) + Record("a.txt", "abc")),
              "char* StartingDir;\n"
              "GetCurrentDirectory(DirNameSize,StartingDir); TODO TODO TODO !\n"
              "No Output Directory specified , assuming current directory.."
              "SetCurrentDirectory(DIR_OUT.c_str());\n" +
                  HeaderReport(1) + ".");
    EXPECT_EQ(Unpacked(), (Files{{"a.txt", "abc"}}));
}

TEST_F(ArchiveReaderTest, MissingOutputDirectoryIsCreated) {
    DIR_OUT = scratch.ProgramPath("out\\new\\deeper") + "\\";
    EXPECT_EQ(Unpack(ArchiveHeader(1) + Record("a.txt", "abc")), kPreamble + HeaderReport(1) + ".");
    EXPECT_EQ(Unpacked(), (Files{{"new/deeper/a.txt", "abc"}}));
    EXPECT_EQ(std::filesystem::current_path(), scratch.Path("out/new/deeper"));
}

TEST_F(ArchiveReaderTest, OutputDirectoryThatCannotBeEnteredUnpacksNothing) {
    WriteBytes(scratch.Path("out/plain"), "a file, not a directory");
    DIR_OUT = scratch.ProgramPath("out\\plain\\sub") + "\\";
    const std::filesystem::path before = std::filesystem::current_path();
    EXPECT_EQ(Unpack(ArchiveHeader(1) + Record("a.txt", "abc")),
              kPreamble + "\n Error : Cannot Enter Output Directory " + DIR_OUT + "! \n");
    EXPECT_EQ(Unpacked(), (Files{{"plain", "a file, not a directory"}}));
    EXPECT_EQ(std::filesystem::current_path(), before);
    EXPECT_EQ(RunOutcome(), Outcome::Failed);
}

TEST_F(ArchiveReaderTest, ArchiveThatCannotBeOpenedStillEntersTheOutputDirectory) {
    const std::string missing = scratch.ProgramPath("missing.vk");
    EXPECT_EQ(CaptureStdout([&] { unpackfiles(missing); }),
              kPreamble + "\n Error : Cannot Open Archive " + missing + "! \n");
    EXPECT_EQ(std::filesystem::current_path(), scratch.Path("out"));
    EXPECT_TRUE(Unpacked().empty());
    EXPECT_EQ(RunOutcome(), Outcome::Failed);
}

TEST_F(ArchiveReaderTest, MalformedArchivesAreReportedWhereTheyGoWrong) {
    const std::string good = Record("good.txt", "good");  // 8 + 8 + 4 = 20 bytes
    const std::string long_name(4096, 'n');
    const std::string longest_field(16384, 'n');
    struct Case {
        const char* label;
        std::string archive;
        std::string after_preamble;  // expected output after the fixed lines
        Files files;
        Outcome outcome;
    };
    const std::string damaged = "\n Error : Damaged Archive " + ArchiveName() + " at byte ";
    const std::string truncated = "\n Error : Truncated Archive " + ArchiveName() + "! \n";
    // A file cut short stays with what it got, and is named as partial.
    const auto partial = [&](const std::string& name) {
        return truncated + "\n Error : Partial File " + name + "! \n";
    };
    const std::string not_archive = "\n Error : Not An Archive " + ArchiveName() + "! \n";
    const std::vector<Case> cases = {
        {"ends inside the archive header", ArchiveHeader(1).substr(0, 11), not_archive, {},
         Outcome::Failed},
        {"picture named by mistake", "\xFF\xD8\xFF\xE0" + PatternBytes(60), not_archive, {},
         Outcome::Failed},
        {"ends inside an entry header", ArchiveHeader(2) + good + EntryHeader(3, 5).substr(0, 6),
         HeaderReport(2) + "." + truncated, {{"good.txt", "good"}}, Outcome::Failed},
        {"ends inside a name", ArchiveHeader(1) + EntryHeader(3, 5) + "a.t",
         HeaderReport(1) + "." + partial("a.t"), {{"a.t", ""}}, Outcome::Failed},
        {"ends inside the name of an empty file", ArchiveHeader(1) + EntryHeader(0, 5) + "a.t",
         HeaderReport(1) + "." + partial("a.t"), {{"a.t", ""}}, Outcome::Failed},
        {"ends inside the data", ArchiveHeader(1) + EntryHeader(10, 5) + "a.txtabc",
         HeaderReport(1) + "." + partial("a.txt"), {{"a.txt", "abc"}}, Outcome::Failed},
        {"negative name length", ArchiveHeader(2) + good + EntryHeader(3, -1) + "abc",
         HeaderReport(2) + "." + damaged + "32! \n", {{"good.txt", "good"}}, Outcome::Failed},
        {"name length over the limit", ArchiveHeader(1) + EntryHeader(0, 16385) + longest_field + "n",
         HeaderReport(1) + damaged + "12! \n", {}, Outcome::Failed},
        {"negative data size", ArchiveHeader(1) + EntryHeader(-1, 5) + "a.txt",
         HeaderReport(1) + damaged + "12! \n", {}, Outcome::Failed},
        {"name at the limit is read whole",
         ArchiveHeader(2) + Record(long_name, "data") + good,
         HeaderReport(2) + "\nCould not write `" + long_name + "`\n.", {{"good.txt", "good"}},
         Outcome::Failed},
        {"name field at the limit is read whole",
         ArchiveHeader(2) + Record(longest_field, "data") + good,
         HeaderReport(2) + "\nCould not write `" + longest_field + "`\n.", {{"good.txt", "good"}},
         Outcome::Failed},
        {"zero file count with records", ArchiveHeader(0) + good, HeaderReport(0), {},
         Outcome::Clean},
        {"fewer records than counted", ArchiveHeader(3) + good + Record("b", "bb"),
         HeaderReport(3) + "..", {{"good.txt", "good"}, {"b", "bb"}}, Outcome::Clean},
        {"NUL with nothing after it", ArchiveHeader(1) + Record(std::string("c.txt\0", 6), "c"),
         HeaderReport(1) + ".", {{"c.txt", "c"}}, Outcome::Clean},
        {"exact name that is not the program form",
         ArchiveHeader(3) + good + Record(std::string("c.txt\0junk", 10), "c") + good,
         HeaderReport(3) + "." + damaged + "32! \n", {{"good.txt", "good"}}, Outcome::Failed},
        {"exact name with a separator the program form lacks",
         ArchiveHeader(2) + good + Record(std::string("a\\b\0a/c", 7), "c"),
         HeaderReport(2) + "." + damaged + "32! \n", {{"good.txt", "good"}}, Outcome::Failed},
        {"ends inside an exact name",
         ArchiveHeader(1) + EntryHeader(1, 9) + std::string("a\\b\0a", 5),
         HeaderReport(1) + "." + partial("a\\b"), {{"a/b", ""}}, Outcome::Failed},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.label);
        ResetOutcome();
        ClearOut();
        EXPECT_EQ(Unpack(row.archive), kPreamble + row.after_preamble);
        EXPECT_EQ(Unpacked(), row.files);
        EXPECT_EQ(RunOutcome(), row.outcome);
    }
}

TEST_F(ArchiveReaderTest, HostileNamesNeverReachOutsideTheOutputDirectory) {
    WriteBytes(scratch.Path("sentinel.txt"), "untouched");
    const std::string absolute = scratch.Path("sentinel.txt");  // "/tmp/.../sentinel.txt"
    struct Case {
        std::string stored_name;
        std::string notice;   // printed before the record's dot (if any)
        std::string created;  // path under "out", empty when the record is skipped
    };
    // A skipped record is a file not restored: the unpack fails. A removed
    // prefix is only a notice.
    const auto skipped = [](const std::string& name) {
        return "\nUnsafe name skipped `" + name + "`\n";
    };
    const auto removed = [](const std::string& prefix, const std::string& name) {
        return "\nRemoving leading `" + prefix + "' from `" + name + "`\n";
    };
    const auto exact = [](const std::string& program, const std::string& exact_name) {
        return program + std::string(1, '\0') + exact_name;
    };
    const std::vector<Case> cases = {
        {"..\\sentinel.txt", skipped("..\\sentinel.txt"), ""},
        {"../sentinel.txt", skipped("../sentinel.txt"), ""},
        {"sub\\..\\..\\sentinel.txt", skipped("sub\\..\\..\\sentinel.txt"), ""},
        {"sub/..\\../sentinel.txt", skipped("sub/..\\../sentinel.txt"), ""},
        {"..", skipped(".."), ""},
        {"sub\\..", skipped("sub\\.."), ""},
        {"\\sentinel.txt", removed("\\", "\\sentinel.txt"), "sentinel.txt"},
        {absolute, removed("/", absolute), absolute.substr(1)},
        {"C:\\sentinel.txt", removed("C:\\", "C:\\sentinel.txt"), "sentinel.txt"},
        {"C:sentinel.txt", "", "C:sentinel.txt"},  // a colon is part of a Linux name
        {"\\\\server\\share\\f.txt", removed("\\\\", "\\\\server\\share\\f.txt"),
         "server/share/f.txt"},
        {"/d:/x/f.txt", removed("/d:/", "/d:/x/f.txt"), "x/f.txt"},
        {"...\\a..b", "", ".../a..b"},
        {"sub/f.txt", "", "sub/f.txt"},
        // Exact forms after a NUL are created as they are, by the same rules.
        {exact("a\\b", "a\\b"), "", "a\\b"},
        {exact("x\\y\\c", "x\\y/c"), "", "x\\y/c"},
        {exact("a\\b", "a/b"), "", "a/b"},
        {exact("a\\b", "a\\b") + std::string(1, '\0') + "later words", "", "a\\b"},
        {exact("\\p\\q", "/p\\q"), removed("\\", "\\p\\q"), "p\\q"},
        {exact("..\\x", "../x"), skipped("..\\x"), ""},
        {exact("..\\x", "..\\x"), skipped("..\\x"), ""},
        {exact("s\\..\\..\\x", "s/../..\\x"), skipped("s\\..\\..\\x"), ""},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.stored_name);
        ResetOutcome();
        ClearOut();
        const std::string output = Unpack(ArchiveHeader(2) + Record(row.stored_name, "evil") +
                                          Record("after.txt", "fine"));
        const std::string dots = row.created.empty() ? "." : "..";
        EXPECT_EQ(output, kPreamble + HeaderReport(2) + row.notice + dots);
        Files expected{{"after.txt", "fine"}};
        if (!row.created.empty()) expected[row.created] = "evil";
        EXPECT_EQ(Unpacked(), expected);
        EXPECT_EQ(ReadBytes(absolute), "untouched");
        EXPECT_EQ(RunOutcome(), row.created.empty() ? Outcome::Failed : Outcome::Clean);
    }
}

TEST_F(ArchiveReaderTest, ExactNamesOfATreeComeBackBesideTheirLookalikes) {
    // "a\b" is one file beside the directory "a" holding "b"; "x\y" is a
    // directory holding "c": their program forms alone cannot tell them apart.
    const auto exact = [](const std::string& program, const std::string& exact_name) {
        return program + std::string(1, '\0') + exact_name;
    };
    const std::string archive = ArchiveHeader(3) + Record("a\\b", "in a") +
                                Record(exact("a\\b", "a\\b"), "backslash") +
                                Record(exact("x\\y\\c", "x\\y/c"), "in x\\y");
    EXPECT_EQ(Unpack(archive), kPreamble + HeaderReport(3) + "...");
    EXPECT_EQ(Unpacked(), (Files{{"a/b", "in a"}, {"a\\b", "backslash"}, {"x\\y/c", "in x\\y"}}));
    EXPECT_TRUE(std::filesystem::is_directory(scratch.Path("out/x\\y")));
    // A failure shows the part before the NUL.
    ClearOut();
    WriteBytes(Out("a\\b"), "");
    std::filesystem::create_directory(Out("x\\y"));
    std::filesystem::create_directory(Out("x\\y/c"));
    EXPECT_EQ(Unpack(ArchiveHeader(1) + Record(exact("x\\y\\c", "x\\y/c"), "data")),
              kPreamble + HeaderReport(1) + "\nCould not write `x\\y\\c`\n");
}

TEST_F(ArchiveReaderTest, UnsafeRecordRunningPastTheEndIsTruncation) {
    EXPECT_EQ(Unpack(ArchiveHeader(1) + EntryHeader(100, 2) + ".." + "short"),
              kPreamble + HeaderReport(1) + "\nUnsafe name skipped `..`\n" +
                  "\n Error : Truncated Archive " + ArchiveName() + "! \n");
    EXPECT_EQ(RunOutcome(), Outcome::Failed);
}

TEST_F(ArchiveReaderTest, FileThatCannotBeCreatedLeavesItsNeighboursWhole) {
    const std::string big = PatternBytes(70000);
    EXPECT_EQ(Unpack(ArchiveHeader(3) + Record("one.bin", big) +
                     Record("one.bin\\inside.txt", PatternBytes(500)) + Record("two.bin", big)),
              kPreamble + HeaderReport(3) + ".\nCould not write `one.bin\\inside.txt`\n.");
    EXPECT_EQ(Unpacked(), (Files{{"one.bin", big}, {"two.bin", big}}));
    EXPECT_EQ(RunOutcome(), Outcome::Failed);
}

TEST_F(ArchiveReaderTest, RecordNamedLikeTheArchiveDoesNotOverwriteIt) {
    const std::string archive =
        ArchiveHeader(3) + Record("first.txt", "1") + Record("a.vk", "x") + Record("last.txt", "3");
    WriteBytes(Out("a.vk"), archive);
    EXPECT_EQ(CaptureStdout([&] { unpackfiles(scratch.ProgramPath("out\\a.vk")); }),
              kPreamble + HeaderReport(3) + ".\nCould not write `a.vk`\n.");
    EXPECT_EQ(Unpacked(), (Files{{"a.vk", archive}, {"first.txt", "1"}, {"last.txt", "3"}}));
    EXPECT_EQ(RunOutcome(), Outcome::Failed);
}

TEST_F(ArchiveReaderTest, RecordsWithoutANameAreCountedPastTheFirstHundred) {
    const auto unnamed = [](int count) {
        std::string records;
        for (int i = 0; i < count; ++i) records += Record("", "");
        return records;
    };
    const auto lines = [](int count) {
        std::string text;
        for (int i = 0; i < count; ++i) text += "\nCould not write ``\n";
        return text;
    };
    const auto more = [](int count) {
        return "\n... and " + std::to_string(count) + " more records without a name\n";
    };
    struct Case {
        const char* label;
        std::string records;
        std::string after_header;
    };
    const std::vector<Case> cases = {
        {"a hundred are each reported", unnamed(100), lines(100)},
        {"the rest of a run is counted at the end of the archive", unnamed(250),
         lines(100) + more(150)},
        {"a record with a name ends the run and starts a new one",
         unnamed(130) + Record("named.txt", "n") + unnamed(105),
         lines(100) + more(30) + "." + lines(100) + more(5)},
        {"records with a name are always reported one by one",
         unnamed(101) + Record("x\\", "") + Record("x\\", ""),
         lines(100) + more(1) + "\nCould not write `x\\`\n\nCould not write `x\\`\n"},
        {"the count comes before the end of a cut archive",
         unnamed(102) + EntryHeader(0, 0).substr(0, 3),
         lines(100) + more(2) + "\n Error : Truncated Archive " + ArchiveName() + "! \n"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.label);
        ResetOutcome();
        ClearOut();
        EXPECT_EQ(Unpack(ArchiveHeader(1) + row.records), kPreamble + HeaderReport(1) + row.after_header);
        EXPECT_EQ(RunOutcome(), Outcome::Failed);
    }
}

TEST_F(ArchiveReaderTest, ArchiveOfZerosPrintsABoundedReport) {
    const std::string zeros(8'000'000, '\0');
    const std::string output = Unpack(ArchiveHeader(1) + zeros);
    EXPECT_LT(output.size(), 3000u);
    EXPECT_NE(output.find("\n... and 999900 more records without a name\n"), std::string::npos);
    EXPECT_TRUE(Unpacked().empty());
    EXPECT_EQ(RunOutcome(), Outcome::Failed);
}

// Another process that can write the output tree swaps a directory for a
// link to the outside at the worst moment: after the reader has reached the
// directory and before it creates the file there. The file still lands in
// the directory that was reached, which never left the output tree.
TEST_F(ArchiveReaderTest, DirectorySwappedForALinkBeforeTheFileIsCreated) {
    const std::string outside = scratch.Path("outside");
    std::filesystem::create_directory(outside);
    const auto swap_for_link = [&](const std::string& directory) {
        std::filesystem::rename(Out(directory), Out(directory + ".moved"));
        std::filesystem::create_directory_symlink(outside, Out(directory));
    };
    struct Case {
        const char* label;
        std::string swapped;      // the directory swapped for a link
        std::string at_file;      // when this file is about to be created
        std::string output;       // after the header report
        Files files;              // regular files under "out" afterwards
    };
    const std::string archive = ArchiveHeader(3) + Record("sub\\one.txt", "1") +
                                Record("sub\\two.txt", "2") + Record("sub\\deeper\\three.txt", "3");
    const std::vector<Case> cases = {
        {"the directory of the file being created", "sub", "sub/one.txt", "...",
         {{"sub.moved/one.txt", "1"}, {"sub.moved/two.txt", "2"}, {"sub.moved/deeper/three.txt", "3"}}},
        {"a directory held open from the file before", "sub", "sub/two.txt", "...",
         {{"sub.moved/one.txt", "1"}, {"sub.moved/two.txt", "2"}, {"sub.moved/deeper/three.txt", "3"}}},
        {"a level above a directory not reached yet", "sub/deeper", "sub/two.txt",
         "..\nCould not write `sub\\deeper\\three.txt`\n",
         {{"sub/one.txt", "1"}, {"sub/two.txt", "2"}}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.label);
        ResetOutcome();
        ClearOut();
        std::filesystem::create_directories(Out("sub/deeper"));
        std::filesystem::remove_all(outside);
        std::filesystem::create_directory(outside);
        SetUnpackFileHook([&](const std::string& path) {
            if (path == row.at_file) swap_for_link(row.swapped);
        });
        const std::string output = Unpack(archive);
        SetUnpackFileHook({});
        EXPECT_EQ(output, kPreamble + HeaderReport(3) + row.output);
        EXPECT_EQ(Unpacked(), row.files);
        EXPECT_TRUE(std::filesystem::is_empty(outside)) << "a file was written through the link";
    }
}

TEST_F(ArchiveReaderTest, FullDiskIsReportedForTheFileBeingWritten) {
    WriteBytes(scratch.Path("a.vk"),
               ArchiveHeader(2) + Record("big.bin", PatternBytes(300000)) + Record("small", "s"));
    const std::string output_path = scratch.Path("output.txt");

    const int outcome =
        RunWithFileSizeLimit(100000, output_path, [&] { unpackfiles(ArchiveName()); });

    EXPECT_EQ(outcome, static_cast<int>(Outcome::Failed));
    EXPECT_EQ(ReadBytes(output_path), kPreamble + HeaderReport(2) +
                                          "\nCould not write `big.bin`\n"
                                          "\n Error : Partial File big.bin! \n");
    // What was written stays: the start of the file, up to the limit.
    const std::string kept = ReadBytes(Out("big.bin"));
    EXPECT_GT(kept.size(), 0u);
    EXPECT_LE(kept.size(), 100000u);
    EXPECT_EQ(kept, PatternBytes(300000).substr(0, kept.size()));
}

}  // namespace
