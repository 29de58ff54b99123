// The directory walker as the real program runs it on trees that used to
// trip it: names holding a backslash, trees deeper than the limit on open
// files, paths longer than PATH_MAX, and directories that a normal user may
// read but not search (or search but not read).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "archive_test_support.h"
#include "reliability_support.h"

namespace {

// The program may hold this many descriptors. The sanitizer build's runtime
// needs descriptors of its own (it reads /proc to check memory), so there
// the limit is left as it is: the walk is checked, not its descriptors.
std::optional<rlim_t> OpenFilesLimit() {
    if (VARKEL_SANITIZED) return std::nullopt;
    return 16;
}

using namespace reliability;
using archive_testing::ParseArchive;
using archive_testing::StoredRecord;
using testing_support::WriteBytesAt;

const std::string kNul(1, '\0');

// Packs the directory `tree` of the scratch directory into x.dat there.
Ended PackTree(const ScratchDir& scratch, const Limits& limits = {}) {
    return RunJob(scratch.path(), {"ADDDIR=tree", "PACK=x.dat"}, limits);
}

std::vector<StoredRecord> RecordsOf(const ScratchDir& scratch) {
    const auto archive = ParseArchive(ReadBytes(scratch.Path("x.dat")));
    EXPECT_TRUE(archive.well_formed);
    return archive.records;
}

TEST(DirectoryWalk, NamesWithABackslashArePackedFromTheirOwnFile) {
    // "a\b" beside the directory "a" holding "b": one program form, two files.
    ScratchDir scratch;
    fs::create_directories(scratch.Path("tree/a"));
    fs::create_directories(scratch.Path("tree/x\\y"));
    WriteBytes(scratch.Path("tree/a/b"), "inner");
    WriteBytes(scratch.Path("tree/a\\b"), "outer");
    WriteBytes(scratch.Path("tree/x\\y/c"), "in x\\y");

    // The same job twice: the second run replaces the archive of the first.
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        const Ended ended = PackTree(scratch);
        EXPECT_EQ(ended.Describe(), "exit 0") << ended.output;
        EXPECT_EQ(RecordsOf(scratch), (std::vector<StoredRecord>{
                                          {"tree\\a\\b", "inner"},
                                          {"tree\\a\\b" + kNul + "tree/a\\b", "outer"},
                                          {"tree\\x\\y\\c" + kNul + "tree/x\\y/c", "in x\\y"},
                                      }));
    }
}

TEST(DirectoryWalk, DeepTreeNeedsFewOpenFiles) {
    // 40 levels, a file on each; 16 open files at most. Holding one
    // directory open per level ran out of descriptors at level 11.
    constexpr int kDepth = 40;
    ScratchDir scratch;
    std::string level = scratch.Path("tree");
    std::vector<StoredRecord> expected;
    std::string stored = "tree";
    for (int depth = 0; depth < kDepth; ++depth) {
        level += "/l" + std::to_string(depth);
        stored += "\\l" + std::to_string(depth);
        fs::create_directories(level);
        WriteBytes(level + "/f", std::to_string(depth));
        expected.push_back({stored + "\\f", std::to_string(depth)});
    }
    // Each level's file comes before its sub-directory ("f" < "l..."), so
    // the list runs from the top down.
    Limits limits;
    limits.open_files = OpenFilesLimit();
    const Ended ended = PackTree(scratch, limits);
    EXPECT_EQ(ended.Describe(), "exit 0") << ended.output;
    EXPECT_NE(ended.output.find("Packing 40 files in x.dat\n"), std::string::npos) << ended.output;
    EXPECT_EQ(RecordsOf(scratch), expected);
}

TEST(DirectoryWalk, TreeDeeperThanPathMaxIsPackedWhole) {
    // 25 levels of 200-byte names below "tree", about 5000 bytes, a file on
    // each level: none of the deeper ones can be reached by its path in one
    // call. Bare names keep the stored names short.
    constexpr int kLevels = 25;
    const std::string name(200, 'd');
    ScratchDir scratch;
    fs::create_directories(scratch.Path("tree"));
    int level_fd = open(scratch.Path("tree").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::vector<StoredRecord> expected;
    for (int depth = 0; depth <= kLevels; ++depth) {
        WriteBytesAt(level_fd, "file", std::to_string(depth));
        // A sub-directory ("ddd...") comes before "file": the deepest file first.
        expected.insert(expected.begin(), {"file", std::to_string(depth)});
        if (depth == kLevels) break;
        ASSERT_EQ(mkdirat(level_fd, name.c_str(), 0755), 0);
        const int next = openat(level_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(level_fd);
        ASSERT_GE(level_fd = next, 0);
    }
    close(level_fd);
    const std::string deepest = scratch.Path("tree/" + testing_support::ChainPath(name, kLevels));
    ASSERT_GT(deepest.size(), static_cast<std::size_t>(PATH_MAX));

    Limits limits;
    limits.open_files = OpenFilesLimit();
    const Ended ended = RunJob(
        scratch.path(), {"PRESERVE_DIRECTORY_TREE=OFF", "ADDDIR=tree", "PACK=x.dat"}, limits);
    EXPECT_EQ(ended.Describe(), "exit 0") << ended.output;
    EXPECT_NE(ended.output.find("Packing 26 files in x.dat\n"), std::string::npos) << ended.output;
    EXPECT_EQ(RecordsOf(scratch), expected);
    Figure("deep trees", "40 levels packed with 16 open files at most; 26 files down to a " +
                             std::to_string(deepest.size()) + "-byte directory (PATH_MAX " +
                             std::to_string(PATH_MAX) + ") packed whole");
}

TEST(DirectoryWalk, WhatANormalUserMayNotSearchOrReadIsReported) {
    ScratchDir scratch;
    fs::create_directories(scratch.Path("tree/open"));
    fs::create_directories(scratch.Path("tree/no_search"));
    fs::create_directories(scratch.Path("tree/no_read"));
    WriteBytes(scratch.Path("tree/open/f"), "open");
    WriteBytes(scratch.Path("tree/no_search/x"), "x");
    WriteBytes(scratch.Path("tree/no_search/y"), "y");
    WriteBytes(scratch.Path("tree/no_read/z"), "z");
    chmod(scratch.Path("tree/no_search").c_str(), 0644);  // names may be read, not looked at
    chmod(scratch.Path("tree/no_read").c_str(), 0311);    // entered, but not listed
    ASSERT_EQ(chown(scratch.path().c_str(), kNobody, kNobody), 0);  // for the archive

    Limits limits;
    limits.user = kNobody;
    const Ended ended = PackTree(scratch, limits);
    EXPECT_EQ(ended.Describe(), "exit 2") << ended.output;
    const std::string walk_lines =
        "\nAdding a Directory complete with it`s Sub-Directories!\n"
        "\nCannot read tree\\no_read: open: Permission denied\n"
        "\nCannot read tree\\no_search\\x: fstatat: Permission denied\n"
        "\nCannot read tree\\no_search\\y: fstatat: Permission denied\n"
        "Packing archive to file x.dat\n";
    EXPECT_NE(ended.output.find(walk_lines), std::string::npos) << ended.output;
    EXPECT_EQ(RecordsOf(scratch), (std::vector<StoredRecord>{{"tree\\open\\f", "open"}}));
}

}  // namespace
