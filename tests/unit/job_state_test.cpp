#include "archive/job_state.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/format.h"
#include "archive/outcome.h"
#include "scratch_dir.h"

namespace {

using testing_support::CaptureStdout;

constexpr const char* kSortNotice = "Slow sorting.. TODO -> Upgrade to QuickSort..\n";

class JobStateTest : public ::testing::Test {
protected:
    JobStateTest() { ResetJobState(); }
    ~JobStateTest() override { ResetJobState(); }

    struct Entry {
        std::string source;
        std::string stored;
        std::int32_t size;
        bool operator==(const Entry&) const = default;
        friend void PrintTo(const Entry& entry, std::ostream* out) {
            *out << "{" << entry.source << ", " << entry.stored << ", " << entry.size << "}";
        }
    };

    static std::vector<Entry> Entries() {
        std::vector<Entry> entries;
        for (std::int32_t i = 0; i < actions_size; ++i) {
            entries.push_back({Action_Mem[0][i], Action_Mem[1][i], Action_Size[i]});
        }
        return entries;
    }

    static void Add(const std::vector<Entry>& entries) {
        for (const Entry& entry : entries) system_add_file(entry.source, entry.stored, entry.size);
    }

    // Sorts and returns what the sort printed.
    static std::string Sort() { return CaptureStdout([] { Sort_Files_Small_First(); }); }
};

TEST_F(JobStateTest, AddStoresEntriesInOrderAndRefusesNegativeSizes) {
    system_add_file("in\\a.txt", "a.txt", 5);
    system_add_file("in\\unmeasured", "unmeasured", -1);
    system_add_file("in\\empty", "empty", 0);
    EXPECT_EQ(actions_size, 2);
    EXPECT_EQ(actions_point, 0);
    EXPECT_EQ(Entries(), (std::vector<Entry>{{"in\\a.txt", "a.txt", 5}, {"in\\empty", "empty", 0}}));
}

TEST_F(JobStateTest, EmptyingTheCountersLetsNewEntriesOverwriteOldOnes) {
    Add({{"old1", "o1", 1}, {"old2", "o2", 2}});
    actions_size = 0;
    actions_point = 0;
    system_add_file("new", "n", 9);
    EXPECT_EQ(Entries(), (std::vector<Entry>{{"new", "n", 9}}));
}

TEST_F(JobStateTest, SortMovesNamesAndSourcesWithTheirSizesAndKeepsEqualSizesInOrder) {
    Add({{"src_a", "a", 5}, {"src_b", "b", 3}, {"src_c", "c", 5}, {"src_d", "d", 1}});
    EXPECT_EQ(Sort(), kSortNotice);
    EXPECT_EQ(Entries(), (std::vector<Entry>{
                             {"src_d", "d", 1}, {"src_b", "b", 3}, {"src_a", "a", 5}, {"src_c", "c", 5}}));
}

TEST_F(JobStateTest, SortPrintsItsNoticeAndLeavesShortOrOrderedListsAlone) {
    const std::vector<std::vector<Entry>> lists = {
        {},
        {{"only", "only", 7}},
        {{"s1", "n1", 0}, {"s2", "n2", 2}, {"s3", "n3", 2}, {"s4", "n4", 9}},
    };
    for (const auto& list : lists) {
        SCOPED_TRACE(std::to_string(list.size()) + " entries");
        ResetJobState();
        Add(list);
        EXPECT_EQ(Sort(), kSortNotice);
        EXPECT_EQ(Entries(), list);
    }
}

TEST_F(JobStateTest, SortCoversOnlyValidEntriesAndLeavesTheCursor) {
    Add({{"s3", "n3", 3}, {"s2", "n2", 2}, {"s1", "n1", 1}});
    actions_size = 2;  // the third entry is stale
    actions_point = 1;
    Sort();
    EXPECT_EQ(Entries(), (std::vector<Entry>{{"s2", "n2", 2}, {"s3", "n3", 3}}));
    EXPECT_EQ(Action_Mem[1][2], "n1");
    EXPECT_EQ(actions_point, 1);
}

TEST_F(JobStateTest, ListGrowsPast65536EntriesAndStillSortsStably) {
    constexpr std::int32_t kCount = 70000;
    // Sizes fall in blocks of ten equal sizes, so both the order of the
    // blocks and the order within a block are checked.
    for (std::int32_t i = 0; i < kCount; ++i) {
        system_add_file("src" + std::to_string(i), "name" + std::to_string(i), (kCount - 1 - i) / 10);
    }
    ASSERT_EQ(actions_size, kCount);
    EXPECT_EQ(Action_Mem[1][kCount - 1], "name69999");
    Sort();
    for (std::int32_t i = 0; i < kCount; ++i) {
        const std::int32_t block = i / 10;
        const std::int32_t added = kCount - 10 * (block + 1) + i % 10;
        ASSERT_EQ(Action_Size[i], block) << "at " << i;
        ASSERT_EQ(Action_Mem[0][i], "src" + std::to_string(added)) << "at " << i;
        ASSERT_EQ(Action_Mem[1][i], "name" + std::to_string(added)) << "at " << i;
    }
}

TEST_F(JobStateTest, StoredNamesReadBackAsGivenWhetherMadeFromThePathOrKept) {
    // Names that follow from the end of the source path are made again when
    // read; any other name is kept as given. Both must read back unchanged.
    const std::vector<Entry> rows = {
        {"/in/a.txt", "a.txt", 1},                   // the end of the path
        {"/in/sub/a.txt", "sub\\a.txt", 2},          // across a directory
        {"/in/a.txt", "\\in\\a.txt", 3},             // the whole path
        {"/in/x", "", 4},                            // nothing of it
        {"a.txt", "a.txt", 5},                       // a path without a directory
        {"/in/we\\rd", archive_format::WithExactName("we\\rd", "we\\rd"), 6},
        {"/in/a\\b", "a\\b", 7},                     // the program form alone, not extended
        {"/in/a.txt", "A.TXT", 8},                   // another name
        {"/in/a.txt", "a longer name than the source path", 9},
        {"/in/x", std::string("x\0y", 3), 10},       // a NUL of its own
        {"/in/sub/a.txt", "sub/a.txt", 11},          // a '/' where the path has one
    };
    Add(rows);
    EXPECT_EQ(Entries(), rows);
}

TEST_F(JobStateTest, ListedFilesShareTheirDirectoryAndSortWithTheirNames) {
    // The walker's way: a directory, a bare name and where the stored name
    // begins in the path. It comes back to /t/a/ after /t/b/.
    system_add_listed_file("/t/a/", "one", 3, 3);
    system_add_listed_file("/t/b/", "two", 3, 1);
    system_add_listed_file("/t/a/", "th\\ree", 5, 2);
    system_add_listed_file("/t/b/", "four", 0, -1);  // refused like any negative size
    ASSERT_EQ(actions_size, 3);
    Sort();
    EXPECT_EQ(Entries(), (std::vector<Entry>{
                             {"/t/b/two", "b\\two", 1},
                             {"/t/a/th\\ree", archive_format::WithExactName("th\\ree", "th\\ree"), 2},
                             {"/t/a/one", "a\\one", 3}}));
}

TEST_F(JobStateTest, ToggleCompressedSetsRatherThanFlips) {
    const std::vector<std::pair<std::vector<bool>, bool>> rows = {
        {{true}, true}, {{true, false}, false}, {{true, true}, true}, {{false, false}, false},
    };
    for (const auto& [calls, result] : rows) {
        SCOPED_TRACE(::testing::PrintToString(calls));
        compression = false;
        for (bool on : calls) Toggle_Compressed(on);
        EXPECT_EQ(compression, result);
    }
}

TEST_F(JobStateTest, SetStartDirEndsTheDirectoryInOneBackslash) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {R"(C:\tools)", R"(C:\tools\)"},
        {R"(C:\tools\)", R"(C:\tools\)"},
        {"", R"(\)"},
        {R"(\usr\local\bin)", R"(\usr\local\bin\)"},
    };
    for (const auto& [dir, expected] : rows) {
        SCOPED_TRACE("SetStartDir('" + dir + "')");
        SetStartDir(dir);
        EXPECT_EQ(INIT_DIR, expected);
    }
}

TEST_F(JobStateTest, SettingsStartAtTheirInitialValues) {
    EXPECT_EQ(DIR_IN, "");
    EXPECT_EQ(DIR_OUT, "");
    EXPECT_EQ(INIT_DIR, "");
    EXPECT_FALSE(compression);
    EXPECT_TRUE(preserve_directory_tree);
    EXPECT_EQ(refresh_draw, 10);
    EXPECT_EQ(dot_draw, 0);
    EXPECT_EQ(actions_size, 0);
    EXPECT_EQ(actions_point, 0);
}

// ---- Outcome -------------------------------------------------------------------

TEST(Outcome, OnlyGetsWorseUntilReset) {
    struct Row {
        std::vector<Outcome> reports;
        Outcome result;
    };
    const std::vector<Row> rows = {
        {{}, Outcome::Clean},
        {{Outcome::FileChanged}, Outcome::FileChanged},
        {{Outcome::Failed, Outcome::FileChanged, Outcome::Clean}, Outcome::Failed},
        {{Outcome::FileChanged, Outcome::Clean}, Outcome::FileChanged},
        {{Outcome::Clean, Outcome::FileChanged, Outcome::Failed}, Outcome::Failed},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        ResetOutcome();
        for (Outcome report : rows[i].reports) ReportOutcome(report);
        EXPECT_EQ(RunOutcome(), rows[i].result);
    }
    ResetOutcome();
    EXPECT_EQ(RunOutcome(), Outcome::Clean);
    EXPECT_EQ(static_cast<int>(Outcome::FileChanged), 1);
    EXPECT_EQ(static_cast<int>(Outcome::Failed), 2);
}

}  // namespace
