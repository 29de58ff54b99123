// The compression step against the world around it: two runs on one archive
// at once, links, the caller's environment, names the compressor would
// rename, a restore job run twice, a folder the user cannot write, a folder
// moved in the middle of a pack, a start folder with a double quote. The
// archive under its name is always whole (the old one, or the new one), and
// nothing is left beside it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "archive/job_state.h"
#include "archive/outcome.h"
#include "archive/writer.h"
#include "archive_test_support.h"
#include "reliability_support.h"

namespace {

using namespace reliability;
using archive_testing::ParseArchive;
using archive_testing::StoredRecord;
using testing_support::PatternBytes;

bool IsBzip2(const std::string& path) { return ReadBytes(path).rfind("BZh", 0) == 0; }

// A tree of `count` files under `directory`/src, and the records an archive of it holds.
std::vector<StoredRecord> MakeTree(const std::string& directory, int count) {
    fs::create_directory(directory + "/src");
    std::vector<StoredRecord> records;
    for (int i = 0; i < count; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%03d", i);
        const std::string data = PatternBytes(2000 + static_cast<std::size_t>(i) * 37);
        WriteBytes(directory + "/src/" + name, data);
        records.push_back({name, data});
    }
    return records;
}

const std::vector<std::string> kCompressedPack = {"COMPRESS=ON", "CHDIR_IN=src", "ADDDIR=src",
                                                  "PACK=x.dat"};

// Unpacks `archive` (a path relative to `directory`) into a fresh folder
// beside it and returns what came out, file by file.
std::map<std::string, std::string> Restored(const std::string& directory, const std::string& archive) {
    const std::string out = directory + "/restored";
    fs::remove_all(out);
    fs::create_directory(out);
    const Ended ended = RunJob(directory, {"COMPRESS=ON", "CHDIR_OUT=restored", "UNPACK=" + archive});
    EXPECT_EQ(ended.Describe(), "exit 0") << ended.output;
    std::map<std::string, std::string> files;
    for (const auto& [name, path] : RegularFilesUnder(out)) files[name] = ReadBytes(path);
    return files;
}

std::map<std::string, std::string> AsFiles(const std::vector<StoredRecord>& records) {
    std::map<std::string, std::string> files;
    for (const StoredRecord& record : records) files[record.name] = record.data;
    return files;
}

// Names in `directory` other than the ones expected there.
std::vector<std::string> StrayNames(const std::string& directory,
                                    const std::set<std::string>& expected) {
    std::vector<std::string> stray;
    for (const auto& entry : fs::directory_iterator(directory)) {
        const std::string name = entry.path().filename().string();
        if (expected.count(name) == 0) stray.push_back(name);
    }
    return stray;
}

TEST(CompressionStep, TwoPacksToOneNameAtOnceEachLeaveAWholeArchive) {
    ScratchDir scratch;
    const auto records = MakeTree(scratch.path(), 200);
    WriteBytes(scratch.Path("job.vkjob"), "COMPRESS=ON\nCHDIR_IN=src\nADDDIR=src\nPACK=x.dat\n");
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Child first({Program(), "job.vkjob"}, scratch.path());
        Child second({Program(), "job.vkjob"}, scratch.path());
        EXPECT_EQ(first.Wait().Describe(), "exit 0");
        EXPECT_EQ(second.Wait().Describe(), "exit 0");
        ASSERT_TRUE(IsBzip2(scratch.Path("x.dat")));
        EXPECT_EQ(StrayNames(scratch.path(), {"src", "job.vkjob", "x.dat"}),
                  std::vector<std::string>{});
    }
    EXPECT_EQ(Restored(scratch.path(), "x.dat"), AsFiles(records));
}

TEST(CompressionStep, TwoUnpacksOfOneArchiveAtOnceRestoreEverything) {
    ScratchDir scratch;
    const auto records = MakeTree(scratch.path(), 200);
    ASSERT_EQ(RunJob(scratch.path(), kCompressedPack).Describe(), "exit 0");
    const std::string compressed = ReadBytes(scratch.Path("x.dat"));
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        WriteBytes(scratch.Path("x.dat"), compressed);
        for (const char* out : {"one", "two"}) {
            fs::remove_all(scratch.Path(out));
            fs::create_directory(scratch.Path(out));
        }
        // Both name the archive through its folder, from output folders of their own.
        Child first({Program(), "../x.dat"}, scratch.Path("one"));
        Child second({Program(), "../x.dat"}, scratch.Path("two"));
        EXPECT_EQ(first.Wait().Describe(), "exit 0");
        EXPECT_EQ(second.Wait().Describe(), "exit 0");
        for (const char* out : {"one", "two"}) {
            std::map<std::string, std::string> files;
            for (const auto& [name, path] : RegularFilesUnder(scratch.Path(out))) {
                files[name] = ReadBytes(path);
            }
            EXPECT_EQ(files, AsFiles(records)) << out;
        }
        // The archive is there, compressed or already decompressed by one of them.
        const std::string after = ReadBytes(scratch.Path("x.dat"));
        EXPECT_TRUE(after == compressed || ParseArchive(after).records == records);
        EXPECT_EQ(StrayNames(scratch.path(), {"src", "job.vkjob", "x.dat", "one", "two"}),
                  std::vector<std::string>{});
    }
}

TEST(CompressionStep, AnArchiveNamedThroughALinkIsReadAndTheLinkStays) {
    ScratchDir scratch;
    const auto records = MakeTree(scratch.path(), 3);
    ASSERT_EQ(RunJob(scratch.path(), kCompressedPack).Describe(), "exit 0");
    fs::create_directory(scratch.Path("store"));
    fs::rename(scratch.Path("x.dat"), scratch.Path("store/x.dat"));
    const std::string compressed = ReadBytes(scratch.Path("store/x.dat"));
    fs::create_directory(scratch.Path("out"));
    fs::create_symlink("../store/x.dat", scratch.Path("out/in.dat"));

    const Ended ended = RunProgram({"in.dat"}, scratch.Path("out"));

    EXPECT_EQ(ended.Describe(), "exit 0") << ended.output;
    EXPECT_NE(ended.output.find("\nin.dat left as it is: it is a link\n"), std::string::npos)
        << ended.output;
    EXPECT_EQ(ended.output.find("Renaming"), std::string::npos);
    EXPECT_TRUE(fs::is_symlink(scratch.Path("out/in.dat")));
    EXPECT_EQ(ReadBytes(scratch.Path("store/x.dat")), compressed);
    EXPECT_EQ(ReadBytes(scratch.Path("out/f002")), records[2].data);
    EXPECT_EQ(StrayNames(scratch.Path("out"), {"in.dat", "f000", "f001", "f002"}),
              std::vector<std::string>{});
}

TEST(CompressionStep, TheCompressorsOptionVariablesDoNotReachIt) {
    ScratchDir scratch;
    const auto records = MakeTree(scratch.path(), 5);
    const std::vector<std::pair<const char*, const char*>> variables = {
        {"LBZIP2", "-c"}, {"BZIP2", "--"}, {"BZIP", "-c"}};
    for (const auto& [name, value] : variables) setenv(name, value, 1);
    const Ended packed = RunJob(scratch.path(), kCompressedPack);
    const auto restored = Restored(scratch.path(), "x.dat");
    for (const auto& [name, value] : variables) unsetenv(name);

    EXPECT_EQ(packed.Describe(), "exit 0") << packed.output;
    EXPECT_EQ(restored, AsFiles(records));
}

TEST(CompressionStep, NamesThatBzip2WouldRenameAreUnpackedAndNothingElseIsTouched) {
    struct Case {
        const char* archive;
        const char* neighbour;  // the name bzip2 itself would decompress into
    };
    const std::vector<Case> cases = {{"backup.bz2", "backup"}, {"x.tbz", "x.tar"},
                                     {"x.tbz2", "x.tar"},      {"x.tar.bz2", "x.tar"},
                                     {"x.bz", "x"}};
    for (const Case& row : cases) {
        SCOPED_TRACE(row.archive);
        ScratchDir scratch;
        const auto records = MakeTree(scratch.path(), 3);
        // Packed under that name with compression on: a bzip2 file, complete.
        const Ended packed = RunJob(scratch.path(), {"COMPRESS=ON", "CHDIR_IN=src", "ADDDIR=src",
                                                     std::string("PACK=") + row.archive});
        EXPECT_EQ(packed.Describe(), "exit 0") << packed.output;
        ASSERT_TRUE(IsBzip2(scratch.Path(row.archive)));
        fs::create_directory(scratch.Path("out"));
        fs::rename(scratch.Path(row.archive), scratch.Path("out/") + row.archive);
        WriteBytes(scratch.Path("out/") + row.neighbour, "a file of the user's");

        const Ended ended = RunProgram({row.archive}, scratch.Path("out"));

        EXPECT_EQ(ended.Describe(), "exit 0") << ended.output;
        EXPECT_EQ(ReadBytes(scratch.Path("out/") + row.neighbour), "a file of the user's");
        EXPECT_EQ(ReadBytes(scratch.Path("out/f001")), records[1].data);
        EXPECT_EQ(ParseArchive(ReadBytes(scratch.Path("out/") + row.archive)).records, records);
    }
}

TEST(CompressionStep, ARestoreJobRunsAgainOnTheArchiveItDecompressed) {
    ScratchDir scratch;
    const auto records = MakeTree(scratch.path(), 3);
    ASSERT_EQ(RunJob(scratch.path(), kCompressedPack).Describe(), "exit 0");
    fs::create_directory(scratch.Path("out"));
    const std::vector<std::string> restore = {"COMPRESS=ON", "CHDIR_OUT=out", "UNPACK=x.dat"};

    const Ended first = RunJob(scratch.path(), restore);
    const Ended second = RunJob(scratch.path(), restore);

    EXPECT_EQ(first.Describe(), "exit 0") << first.output;
    EXPECT_NE(first.output.find("Renaming x.dat.out\nto x.dat\n"), std::string::npos);
    EXPECT_EQ(second.Describe(), "exit 0") << second.output;
    EXPECT_NE(second.output.find("\nx.dat is not compressed: unpacking it as it is\n"),
              std::string::npos)
        << second.output;
    EXPECT_EQ(ReadBytes(scratch.Path("out/f002")), records[2].data);
}

TEST(CompressionStep, AnArchiveInAFolderTheUserCannotWriteIsUnpackedAndLeftAsItIs) {
    ScratchDir scratch;
    fs::permissions(scratch.path(), fs::perms::all);
    const auto records = MakeTree(scratch.path(), 3);
    ASSERT_EQ(RunJob(scratch.path(), kCompressedPack).Describe(), "exit 0");
    fs::create_directory(scratch.Path("media"));
    fs::rename(scratch.Path("x.dat"), scratch.Path("media/x.dat"));
    fs::permissions(scratch.Path("media/x.dat"), fs::perms::owner_all | fs::perms::others_read);
    fs::permissions(scratch.Path("media"), fs::perms::owner_all | fs::perms::others_read |
                                               fs::perms::others_exec);
    const std::string compressed = ReadBytes(scratch.Path("media/x.dat"));
    fs::create_directory(scratch.Path("out"));
    fs::permissions(scratch.Path("out"), fs::perms::all);

    Limits as_nobody;
    as_nobody.user = kNobody;
    const Ended ended = RunProgram({scratch.Path("media/x.dat")}, scratch.Path("out"), as_nobody);

    EXPECT_EQ(ended.Describe(), "exit 0") << ended.output << ended.errors;
    EXPECT_NE(ended.output.find(" left as it is: its folder cannot be written\n"), std::string::npos)
        << ended.output;
    EXPECT_EQ(ReadBytes(scratch.Path("media/x.dat")), compressed);
    EXPECT_EQ(ReadBytes(scratch.Path("out/f000")), records[0].data);
}

TEST(CompressionStep, AStartFolderWithADoubleQuoteStillCompresses) {
    ScratchDir scratch;
    const std::string start = scratch.Path("tools \"v2\"");
    fs::create_directory(start);
    const std::string program = CopyProgramTo(start);
    fs::copy_file(BuildDir() + "/" + kToolName, start + "/" + kToolName);
    const auto records = MakeTree(scratch.path(), 3);

    const Ended ended = RunJob(scratch.path(), kCompressedPack, {}, program);

    EXPECT_EQ(ended.Describe(), "exit 0") << ended.output << ended.errors;
    EXPECT_TRUE(IsBzip2(scratch.Path("x.dat")));
    EXPECT_EQ(Restored(scratch.path(), "x.dat"), AsFiles(records));
}

// In process, through the writer's seam: the folder of the archive is moved
// while the archive is being written. The archive is finished in the folder
// where it now is, and no temporary file is left anywhere.
TEST(CompressionStep, AFolderMovedDuringThePackGetsTheArchiveAndNoTemporaryFile) {
    ScratchDir scratch;
    fs::create_directory(scratch.Path("src"));
    WriteBytes(scratch.Path("src/a.txt"), "alpha");
    WriteBytes(scratch.Path("src/b.txt"), "beta");
    fs::create_directory(scratch.Path("backups"));
    ResetJobState();
    ResetOutcome();
    DIR_OUT = testing_support::ProgramForm(scratch.Path("backups")) + "\\";
    system_add_file(scratch.Path("src/a.txt"), "a.txt", 5);
    system_add_file(scratch.Path("src/b.txt"), "b.txt", 4);
    bool moved = false;
    SetPackSourceHook([&](const std::string&) {
        if (!moved) fs::rename(scratch.Path("backups"), scratch.Path("moved"));
        moved = true;
    });

    const std::string printed = testing_support::CaptureStdout([] { EXPECT_TRUE(pack2files("x.dat")); });

    SetPackSourceHook(nullptr);
    EXPECT_EQ(ParseArchive(ReadBytes(scratch.Path("moved/x.dat"))).records,
              (std::vector<StoredRecord>{{"a.txt", "alpha"}, {"b.txt", "beta"}}))
        << printed;
    EXPECT_EQ(StrayNames(scratch.Path("moved"), {"x.dat"}), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(scratch.Path("backups")));
    ResetJobState();
    ResetOutcome();
}

}  // namespace
