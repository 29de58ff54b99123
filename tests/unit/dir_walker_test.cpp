// The directory walker against real trees: the order of the action list,
// stored names, skipped entries and listing failures.
#include "interp/dir_walker.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/job_state.h"
#include "archive/outcome.h"
#include "scratch_dir.h"

namespace {

using testing_support::CaptureStdout;
using testing_support::ProgramForm;
using testing_support::ScratchDir;
using testing_support::WriteBytes;
using testing_support::WriteBytesAt;

struct Entry {
    std::string source;
    std::string stored_name;
    std::int32_t size;
    bool operator==(const Entry&) const = default;
};

std::vector<Entry> ActionList() {
    std::vector<Entry> entries;
    for (std::int32_t i = 0; i < actions_size; ++i) {
        entries.push_back({Action_Mem[0][i], Action_Mem[1][i], Action_Size[i]});
    }
    return entries;
}

// A file of `size` bytes that takes no room on disk.
void MakeSparseFile(const std::string& host_path, off_t size) {
    WriteBytes(host_path, "");
    ASSERT_EQ(truncate(host_path.c_str(), size), 0);
}

void PrintTo(const Entry& entry, std::ostream* out) {
    *out << "{" << entry.source << ", " << entry.stored_name << ", " << entry.size << "}";
}

class DirWalkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetJobState();
        ResetOutcome();
        // data/photos holds z.jpg, a.jpg and the sub-directory trips; their
        // byte order, not their creation order, decides the list.
        std::filesystem::create_directories(scratch.Path("data/photos/trips"));
        WriteBytes(scratch.Path("data/photos/z.jpg"), "zz");
        WriteBytes(scratch.Path("data/photos/a.jpg"), "a");
        WriteBytes(scratch.Path("data/photos/trips/b.jpg"), "bbb");
        WriteBytes(scratch.Path("data/photos/B.jpg"), "");
    }
    std::string Data(const std::string& relative = "") const {
        return scratch.ProgramPath("data\\" + relative);
    }
    ScratchDir scratch;
};

TEST_F(DirWalkerTest, RecursiveWalkIsDepthFirstInByteOrder) {
    std::string output = CaptureStdout([&] { add_a_dir(Data(), Data("photos"), true); });
    EXPECT_EQ(output, "");
    const std::string photos = scratch.Path("data/photos/");
    EXPECT_EQ(ActionList(), (std::vector<Entry>{
                                {photos + "B.jpg", "photos\\B.jpg", 0},
                                {photos + "a.jpg", "photos\\a.jpg", 1},
                                {photos + "trips/b.jpg", "photos\\trips\\b.jpg", 3},
                                {photos + "z.jpg", "photos\\z.jpg", 2},
                            }));
    EXPECT_EQ(RunOutcome(), Outcome::Clean);
}

TEST_F(DirWalkerTest, SingleDirectoryWithFlatNames) {
    preserve_directory_tree = false;
    add_a_dir(Data(), Data("photos\\"), false);
    const std::string photos = scratch.Path("data/photos/");
    EXPECT_EQ(ActionList(), (std::vector<Entry>{
                                {photos + "B.jpg", "B.jpg", 0},
                                {photos + "a.jpg", "a.jpg", 1},
                                {photos + "z.jpg", "z.jpg", 2},
                            }));
}

TEST_F(DirWalkerTest, SkipsWhatIsNeitherFileNorDirectory) {
    const std::string trips = scratch.Path("data/photos/trips/");
    ASSERT_EQ(mkfifo((trips + "fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("..", (trips + "loop").c_str()), 0);
    ASSERT_EQ(symlink("gone", (trips + "broken").c_str()), 0);
    ASSERT_EQ(symlink("b.jpg", (trips + "same.jpg").c_str()), 0);
    std::string output = CaptureStdout([&] { add_a_dir(Data(), Data("photos\\trips"), true); });
    const std::string dir = Data("photos\\trips\\");
    EXPECT_EQ(output, "\nSkipping " + dir + "broken: not a regular file or directory\n" +
                          "\nSkipping " + dir + "fifo: not a regular file or directory\n" +
                          "\nSkipping " + dir + "loop: not a regular file or directory\n");
    EXPECT_EQ(ActionList(), (std::vector<Entry>{
                                {trips + "b.jpg", "photos\\trips\\b.jpg", 3},
                                {trips + "same.jpg", "photos\\trips\\same.jpg", 3},
                            }));
    EXPECT_EQ(RunOutcome(), Outcome::Clean);
}

TEST_F(DirWalkerTest, ListingFailures) {
    ASSERT_EQ(symlink("loop", scratch.Path("data/loop").c_str()), 0);
    const std::string too_long_name(300, 'n');
    struct Case {
        const char* name;
        std::string directory;
        std::string printed;
    };
    const std::vector<Case> cases = {
        // A missing directory and a file are what they always were: the
        // errno, without a line break.
        {"missing directory", Data("nothere"),
         "INTERNAL ERROR STARTING.. " + std::to_string(ENOENT)},
        {"path through a file", Data("photos\\a.jpg\\x"),
         "INTERNAL ERROR STARTING.. " + std::to_string(ENOTDIR)},
        {"link loop", Data("loop"), "\nCannot read " + Data("loop") +
                                        ": open: Too many levels of symbolic links\n"},
        {"name too long", Data(too_long_name),
         "\nCannot read " + Data(too_long_name) + ": open: File name too long\n"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        ResetOutcome();
        std::string output = CaptureStdout([&] { add_a_dir(Data(), row.directory, true); });
        EXPECT_EQ(output, row.printed);
        EXPECT_EQ(actions_size, 0);
        EXPECT_EQ(RunOutcome(), Outcome::Failed);
    }
}

TEST_F(DirWalkerTest, BackslashesInNamesKeepTheExactName) {
    // "a\b" beside the directory "a" that holds "b": one program form for
    // two files. And "c" inside the directory "x\y".
    const std::string root = scratch.Path("data/odd/");
    std::filesystem::create_directories(root + "a");
    std::filesystem::create_directories(root + "x\\y");
    WriteBytes(root + "a/b", "inner");
    WriteBytes(root + "a\\b", "outer");
    WriteBytes(root + "x\\y/c", "c");
    const std::string nul(1, '\0');
    struct Case {
        const char* name;
        bool preserve;
        std::vector<std::string> stored_names;
    };
    const std::vector<Case> cases = {
        {"tree preserved", true,
         {"a\\b", "a\\b" + nul + "a\\b", "x\\y\\c" + nul + "x\\y/c"}},
        {"bare names", false, {"b", "a\\b" + nul + "a\\b", "c"}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        ResetJobState();
        preserve_directory_tree = row.preserve;
        std::string output = CaptureStdout([&] { add_a_dir(Data("odd"), Data("odd"), true); });
        EXPECT_EQ(output, "");
        EXPECT_EQ(ActionList(), (std::vector<Entry>{
                                    {root + "a/b", row.stored_names[0], 5},
                                    {root + "a\\b", row.stored_names[1], 5},
                                    {root + "x\\y/c", row.stored_names[2], 1},
                                }));
    }
}

TEST_F(DirWalkerTest, WalksPastPathMax) {
    const std::string level(200, 'd');
    constexpr int kDepth = 25;  // about 5000 bytes below data/deep
    std::filesystem::create_directories(scratch.Path("data/deep"));
    const int deepest = testing_support::MakeDirectoryChain(scratch.Path("data/deep"), level, kDepth);
    WriteBytesAt(deepest, "file", "deep");
    close(deepest);
    const std::string below = testing_support::ChainPath(level, kDepth);
    std::string output = CaptureStdout([&] { add_a_dir(Data(), Data("deep"), true); });
    EXPECT_EQ(output, "");
    EXPECT_EQ(ActionList(), (std::vector<Entry>{{scratch.Path("data/deep/" + below + "file"),
                                                 ProgramForm("deep/" + below + "file"), 4}}));
    EXPECT_EQ(RunOutcome(), Outcome::Clean);
}

TEST_F(DirWalkerTest, FileOfTwoGibibytesIsRefusedWithALine) {
    const std::string dir = scratch.Path("data/big/");
    std::filesystem::create_directories(dir);
    MakeSparseFile(dir + "largest", 0x7FFFFFFF);
    MakeSparseFile(dir + "too_large", 0x80000000LL);
    std::string output = CaptureStdout([&] { add_a_dir(Data(), Data("big"), true); });
    EXPECT_EQ(output, "\n Error : File Too Large For Archive " + Data("big\\too_large") + "! \n");
    ASSERT_EQ(actions_size, 1);
    EXPECT_EQ(Action_Size[0], 0x7FFFFFFF);
    EXPECT_EQ(RunOutcome(), Outcome::Failed);
}

TEST(DirAccordingToTest, RemovesTheSharedFront) {
    struct Case {
        const char* base;
        const char* path;
        const char* stored;
        const char* printed;
    };
    const Case cases[] = {
        {"C:\\data\\", "C:\\data\\photos\\a.jpg", "photos\\a.jpg", ""},
        {"C:\\data\\", "C:\\dat2\\x.txt", "2\\x.txt", ""},
        {"c:\\data\\", "C:\\data\\x.txt", "C:\\data\\x.txt", ""},
        {"C:\\data\\", "photos\\a.jpg", "photos\\a.jpg", ""},
        {"C:\\data\\", "p\\a.jpg", "p\\a.jpg",
         "Error trying to change an absoloute path C:\\data\\ - p\\a.jpg\n"},
        {"C:\\data\\", "C:\\data\\", "", ""},
        {"\\", "\\home\\x.txt", "home\\x.txt", ""},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(std::string(row.base) + " | " + row.path);
        std::string path = row.path;
        std::string output = CaptureStdout([&] { DirAccordingTo(row.base, path); });
        EXPECT_EQ(path, row.stored);
        EXPECT_EQ(output, row.printed);
    }
}

}  // namespace
