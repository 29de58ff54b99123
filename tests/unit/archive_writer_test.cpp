// The archive writer against real files: its transcript and progress dots,
// entries that are left out, sources that change under it, and archives that
// cannot be created or written.
#include "archive/writer.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "archive/format.h"
#include "archive_test_support.h"

namespace {

using archive_testing::ArchiveTest;
using archive_testing::ParseArchive;
using archive_testing::RunWithFileSizeLimit;
using archive_testing::StoredRecord;
using testing_support::CaptureStdout;
using testing_support::PatternBytes;
using testing_support::ReadBytes;
using testing_support::WriteBytes;

class ArchiveWriterTest : public ArchiveTest {
protected:
    std::string ArchivePath() const { return DIR_OUT + "backup.dat"; }
    std::string Opening(int listed) const {
        return "packing 2 " + ArchivePath() + "\nPacking " + std::to_string(listed) +
               " files in backup.dat\n";
    }
    std::string Pack() const {
        return CaptureStdout([] { pack2files("backup.dat"); });
    }
    std::vector<StoredRecord> Records() const {
        return ParseArchive(ArchiveBytes("backup.dat")).records;
    }
};

TEST_F(ArchiveWriterTest, PrintsADotEveryRefreshDrawEntriesAndFlushesIt) {
    struct Case {
        std::int32_t refresh_draw;
        int entries;
        std::string dots;
        std::int32_t dot_draw_after;
    };
    const std::vector<Case> cases = {
        {0, 3, "...", 0},
        {2, 5, "..", 1},
        {10, 3, "", 3},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE("refresh_draw " + std::to_string(row.refresh_draw));
        actions_size = actions_point = dot_draw = 0;
        refresh_draw = row.refresh_draw;
        for (int i = 0; i < row.entries; ++i) {
            AddSource("f" + std::to_string(i), std::string(i, 'x'), "f" + std::to_string(i));
        }
        // A dot is flushed as soon as it is printed: nothing waits in the
        // buffer when the next entry is measured.
        std::vector<std::size_t> pending;
        SetPackSourceHook([&](const std::string&) { pending.push_back(__fpending(stdout)); });

        EXPECT_EQ(Pack(), Opening(row.entries) + row.dots + "\n");
        EXPECT_EQ(dot_draw, row.dot_draw_after);
        EXPECT_EQ(actions_point, actions_size);
        EXPECT_EQ(Records().size(), static_cast<std::size_t>(row.entries));
        if (row.refresh_draw == 0) {
            EXPECT_EQ(pending, std::vector<std::size_t>(row.entries, 0));
        }
    }
    EXPECT_EQ(RunOutcome(), Outcome::Clean);
}

TEST_F(ArchiveWriterTest, LeftOutEntryDoesNotDisturbItsNeighbours) {
    struct Case {
        const char* label;
        std::function<std::string()> listed_source;  // program form
        std::string message_head;
        Outcome outcome;
    };
    const std::string self_message = "\n Error : Cannot Include In Output File the Output File :P ";
    const std::string open_message = "\n Error : Cannot Open File ";
    std::filesystem::current_path(scratch.path());
    const std::vector<Case> cases = {
        {"missing file", [&] { return scratch.ProgramPath("src/missing"); }, open_message,
         Outcome::Failed},
        {"directory", [&] { return scratch.ProgramPath("src"); }, open_message, Outcome::Failed},
        {"archive through a symbolic link",
         [&] {
             std::filesystem::create_symlink(Out("backup.dat"), scratch.Path("link"));
             return scratch.ProgramPath("link");
         },
         self_message, Outcome::Clean},
        {"archive by a relative path", [] { return std::string("out\\.\\backup.dat"); },
         self_message, Outcome::Clean},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.label);
        ResetJob();
        refresh_draw = 100;
        WriteBytes(Out("backup.dat"), "an older archive");
        AddSource("before", "first file", "before.txt");
        const std::string source = row.listed_source();
        AddListed(source, "middle.txt");
        AddSource("after", PatternBytes(70000), "after.bin");

        EXPECT_EQ(Pack(), Opening(3) + row.message_head + source + "! \n" + "\n");
        const auto archive = ParseArchive(ArchiveBytes("backup.dat"));
        EXPECT_EQ(archive.file_count, 3);
        EXPECT_EQ(archive.records, (std::vector<StoredRecord>{{"before.txt", "first file"},
                                                              {"after.bin", PatternBytes(70000)}}));
        EXPECT_TRUE(archive.well_formed);
        EXPECT_EQ(RunOutcome(), row.outcome);
    }
}

TEST_F(ArchiveWriterTest, SourcesAreOpenedByTheirExactNameAndShownInProgramForm) {
    // "a\\b" is a file of its own beside the directory "a" holding "b".
    std::filesystem::create_directories(scratch.Path("src/a"));
    WriteBytes(scratch.Path("src/a/b"), "inner");
    WriteBytes(scratch.Path("src/a\\b"), "outer");
    refresh_draw = 100;
    const std::string exact_name = std::string("a\\b") + '\0' + "a\\b";
    system_add_file(scratch.Path("src/a/b"), "a\\b", 5);
    system_add_file(scratch.Path("src/a\\b"), exact_name, 5);
    system_add_file(scratch.Path("src/c\\d"), "c\\d", 0);  // missing

    EXPECT_EQ(Pack(), Opening(3) + "\n Error : Cannot Open File " + scratch.ProgramPath("src/c/d") +
                          "! \n\n");
    EXPECT_EQ(Records(),
              (std::vector<StoredRecord>{{"a\\b", "inner"}, {exact_name, "outer"}}));
    EXPECT_EQ(RunOutcome(), Outcome::Failed);
}

TEST_F(ArchiveWriterTest, FileNamedLikeTheArchiveInAnotherLetterCaseIsPacked) {
    refresh_draw = 100;
    WriteBytes(Out("notes.dat"), "an older archive");
    WriteBytes(Out("Notes.dat"), "another file");
    AddListed(DIR_OUT + "Notes.dat", "Notes.dat");
    AddListed(DIR_OUT + "notes.dat", "notes.dat");

    EXPECT_EQ(CaptureStdout([] { pack2files("notes.dat"); }),
              "packing 2 " + DIR_OUT + "notes.dat\nPacking 2 files in notes.dat\n" +
                  "\n Error : Cannot Include In Output File the Output File :P " + DIR_OUT +
                  "notes.dat! \n\n");
    EXPECT_EQ(ParseArchive(ArchiveBytes("notes.dat")).records,
              (std::vector<StoredRecord>{{"Notes.dat", "another file"}}));
    EXPECT_EQ(RunOutcome(), Outcome::Clean);
}

TEST_F(ArchiveWriterTest, ArchiveInTheMakingIsRecognisedUnderAnotherName) {
    refresh_draw = 100;
    const std::string alias = Out("alias");
    // Once the first source is measured, the temporary archive exists: give
    // it a second name and list that name next.
    SetPackSourceHook([&](const std::string&) {
        if (std::filesystem::exists(alias)) return;
        for (const auto& entry : std::filesystem::directory_iterator(scratch.Path("out"))) {
            if (entry.path().filename().string().starts_with("backup.dat")) {
                std::filesystem::create_hard_link(entry.path(), alias);
            }
        }
    });
    AddSource("first", "1", "first");
    AddListed(scratch.ProgramPath("out/alias"), "alias");
    AddSource("third", "3", "third");

    EXPECT_EQ(Pack(), Opening(3) + "\n Error : Cannot Include In Output File the Output File :P " +
                          scratch.ProgramPath("out/alias") + "! \n\n");
    EXPECT_EQ(Records(), (std::vector<StoredRecord>{{"first", "1"}, {"third", "3"}}));
    EXPECT_EQ(NamesIn(scratch.Path("out")), (std::vector<std::string>{"alias", "backup.dat"}));
    EXPECT_EQ(RunOutcome(), Outcome::Clean);
}

TEST_F(ArchiveWriterTest, SourceChangedWhilePackedKeepsItsMeasuredSize) {
    const std::string original = PatternBytes(100000);
    struct Case {
        const char* label;
        off_t new_size;
        std::string recorded;
    };
    const std::vector<Case> cases = {
        {"grew", 100000 + 70000, original},
        {"shrank", 10, original.substr(0, 10) + std::string(100000 - 10, '\0')},
        {"emptied", 0, std::string(100000, '\0')},
    };
    const std::string changing = scratch.Path("src/changing");
    for (const Case& row : cases) {
        SCOPED_TRACE(row.label);
        ResetJob();
        refresh_draw = 100;
        AddSource("changing", original, "changing.bin");
        AddSource("after", "after", "after.txt");
        SetPackSourceHook([&](const std::string& source) {
            if (source == changing) {
                ASSERT_EQ(truncate(changing.c_str(), row.new_size), 0);
            }
        });

        EXPECT_EQ(Pack(), Opening(2) + "\n Error : File Changed While Packing " +
                              scratch.ProgramPath("src/changing") + "! \n\n");
        const auto archive = ParseArchive(ArchiveBytes("backup.dat"));
        EXPECT_EQ(archive.records, (std::vector<StoredRecord>{{"changing.bin", row.recorded},
                                                              {"after.txt", "after"}}));
        EXPECT_TRUE(archive.well_formed);
        EXPECT_EQ(RunOutcome(), Outcome::FileChanged);
    }
}

// Makes every later read of an open file fail: each descriptor of this
// process open on it is replaced by one open for writing only.
void BreakReadsOf(const std::string& host_path) {
    const std::filesystem::path file = std::filesystem::canonical(host_path);
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) != file) continue;
        const int write_only = open(host_path.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(write_only, 0);
        ASSERT_GE(dup3(write_only, std::stoi(entry.path().filename().string()), O_CLOEXEC), 0);
        close(write_only);
    }
}

TEST_F(ArchiveWriterTest, SourceThatFailsWhileReadLeavesNothingBehind) {
    struct Case {
        const char* label;
        std::size_t size;
    };
    const std::vector<Case> cases = {
        {"small record, gathered in the buffer", 100},
        {"large record, partly in the file already", 200000},  // copied by the kernel
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.label);
        ResetJob();
        refresh_draw = 0;  // a dot for every entry, the failing one too
        AddSource("before", PatternBytes(70000), "before.bin");
        AddSource("failing", PatternBytes(row.size), "failing.bin");
        AddSource("after", "after", "after.txt");
        SetPackSourceHook([&](const std::string& source) {
            if (source == scratch.Path("src/failing")) BreakReadsOf(scratch.Path("src/failing"));
        });

        EXPECT_EQ(Pack(), Opening(3) + "..\n Error : Cannot Read File " +
                              scratch.ProgramPath("src/failing") +
                              "! \nread: Bad file descriptor\n.\n");
        const auto archive = ParseArchive(ArchiveBytes("backup.dat"));
        EXPECT_EQ(archive.records, (std::vector<StoredRecord>{{"before.bin", PatternBytes(70000)},
                                                              {"after.txt", "after"}}));
        EXPECT_TRUE(archive.well_formed);
        EXPECT_EQ(RunOutcome(), Outcome::Failed);
    }
}

TEST_F(ArchiveWriterTest, StoredNamesFollowTheRuleTheReaderKeeps) {
    using archive_format::WithExactName;
    const std::string too_long(archive_format::kMaxNameLength + 1, 'n');
    struct Case {
        std::string listed;
        std::string message;  // printed for the entry
        std::string stored;   // empty: the entry is left out
        Outcome outcome;
    };
    const auto removing = [](const std::string& part, const std::string& name) {
        return "\nRemoving leading `" + part + "' from `" + name + "`\n";
    };
    const auto error = [&](const std::string& what) {
        return "\n Error : " + what + " " + scratch.ProgramPath("src/middle") + "! \n";
    };
    const std::vector<Case> cases = {
        {"docs\\r.txt", "", "docs\\r.txt", Outcome::Clean},
        {"..\\docs\\r.txt", removing("..\\", "..\\docs\\r.txt"), "docs\\r.txt", Outcome::Clean},
        {"C:\\x\\..\\y", removing("C:\\x\\..\\", "C:\\x\\..\\y"), "y", Outcome::Clean},
        {WithExactName("..\\a\\b", "../a\\b"), removing("..\\", "..\\a\\b"),
         WithExactName("a\\b", "a\\b"), Outcome::Clean},
        {WithExactName("..\\a\\b", "../a/b"), removing("..\\", "..\\a\\b"), "a\\b",
         Outcome::Clean},
        {too_long, error("Name Too Long For Archive"), "", Outcome::Failed},
        {"x\\..", removing("x\\..", "x\\..") + error("Empty Name For Archive"), "",
         Outcome::Failed},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE("listed `" + row.listed.substr(0, 40) + "`");
        ResetJob();
        refresh_draw = 100;
        AddSource("first", "1", "first");
        AddSource("middle", "2", row.listed);
        AddSource("last", "3", "last");

        EXPECT_EQ(Pack(), Opening(3) + row.message + "\n");
        std::vector<StoredRecord> expected = {{"first", "1"}, {"last", "3"}};
        if (!row.stored.empty()) expected.insert(expected.begin() + 1, {row.stored, "2"});
        EXPECT_EQ(Records(), expected);
        EXPECT_EQ(RunOutcome(), row.outcome);
    }
}

TEST_F(ArchiveWriterTest, FileOfTwoGibibytesIsRefused) {
    refresh_draw = 100;
    const std::string huge = scratch.Path("src/huge");
    WriteBytes(huge, "");
    ASSERT_EQ(truncate(huge.c_str(), off_t{1} << 31), 0);  // sparse: takes no room
    AddListed(scratch.ProgramPath("src/huge"), "huge");
    AddSource("small", "small", "small");

    EXPECT_EQ(Pack(), Opening(2) + "\n Error : File Too Large For Archive " +
                          scratch.ProgramPath("src/huge") + "! \n\n");
    EXPECT_EQ(Records(), (std::vector<StoredRecord>{{"small", "small"}}));
    EXPECT_EQ(RunOutcome(), Outcome::Failed);
}

TEST_F(ArchiveWriterTest, ArchiveThatCannotBeCreatedReadsNoSource) {
    DIR_OUT = scratch.ProgramPath("missing") + "\\";
    AddSource("one", "1", "one");
    AddSource("two", "2", "two");
    bool source_read = false;
    SetPackSourceHook([&](const std::string&) { source_read = true; });

    const std::string archive_path = DIR_OUT + "backup.dat";
    EXPECT_EQ(Pack(), "packing 2 " + archive_path + "\n\n Error : Cannot Create Archive " +
                          archive_path + "! \n");
    EXPECT_FALSE(source_read);
    EXPECT_EQ(actions_point, 2);
    EXPECT_FALSE(std::filesystem::exists(scratch.Path("missing")));
    EXPECT_EQ(RunOutcome(), Outcome::Failed);
}

TEST_F(ArchiveWriterTest, FullDiskLeavesNothingUnderTheArchiveName) {
    refresh_draw = 100;
    AddSource("big", PatternBytes(300000), "big");
    AddSource("small", "small", "small");
    const std::string output_path = scratch.Path("output.txt");

    const int outcome = RunWithFileSizeLimit(100000, output_path, [] { pack2files("backup.dat"); });

    EXPECT_EQ(outcome, static_cast<int>(Outcome::Failed));
    const std::string output = ReadBytes(output_path);
    const std::string error_line = "\n Error : Cannot Write Archive " + ArchivePath() + "! \n";
    ASSERT_TRUE(output.starts_with(Opening(2) + error_line)) << output;
    // The system's reason follows on a line of its own, and nothing after it.
    const std::string reason = output.substr(Opening(2).size() + error_line.size());
    // The kernel copy cannot tell which side failed; the retry tells it was the archive.
    EXPECT_EQ(reason, "write: File too large\n");
    EXPECT_EQ(reason.find('\n'), reason.size() - 1) << reason;
    EXPECT_TRUE(NamesIn(scratch.Path("out")).empty());
}

TEST_F(ArchiveWriterTest, ArchiveNameHeldByADirectoryIsLeftAlone) {
    std::filesystem::create_directory(Out("backup.dat"));
    AddSource("one", "1", "one");
    refresh_draw = 100;

    EXPECT_EQ(Pack(), "packing 2 " + ArchivePath() + "\n\n Error : Cannot Create Archive " +
                          ArchivePath() + "! \nnot a regular file\n");
    EXPECT_EQ(actions_point, actions_size);
    EXPECT_EQ(NamesIn(scratch.Path("out")), std::vector<std::string>{"backup.dat"});
    EXPECT_TRUE(std::filesystem::is_empty(Out("backup.dat")));
    EXPECT_EQ(RunOutcome(), Outcome::Failed);
}

}  // namespace
