#include "script/line_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "scratch_dir.h"

namespace {

using testing_support::ScratchDir;
using testing_support::WriteBytes;

constexpr const char* kCannotOpen = "Unable to open script file";
constexpr const char* kTooLong = "Script too long: lines after 65536 are not run";
constexpr const char* kTooLarge = "Script too large: more than 64 MiB, or a line of more than 1 MiB";
constexpr std::size_t kMiB = 1 << 20;

class LineStoreTest : public ::testing::Test {
protected:
    LineStoreTest() { ResetScriptStore(); }
    ~LineStoreTest() override { ResetScriptStore(); }

    // Writes the bytes as a script file and loads it.
    void Load(const std::string& bytes) {
        WriteBytes(scratch.Path("script.txt"), bytes);
        ReadScript(scratch.ProgramPath("script.txt"));
    }

    static std::vector<std::string> LoadedLines() {
        std::vector<std::string> lines;
        for (std::uint32_t i = 0; i < GetScriptSize(); ++i) lines.push_back(commands[i]);
        return lines;
    }

    // `count` lines "line0", "line1", ..., each ended by a line feed.
    static std::string NumberedLines(int count) {
        std::string text;
        for (int i = 0; i < count; ++i) text += "line" + std::to_string(i) + "\n";
        return text;
    }

    ScratchDir scratch;
};

TEST_F(LineStoreTest, SplitsAtLineFeedsAndKeepsTheTextAfterTheLast) {
    struct Row {
        const char* what;
        std::string bytes;
        std::vector<std::string> lines;
    };
    const std::vector<Row> rows = {
        {"CRLF lines, final line feed", "BEGINLIST\r\nPACK=a.pak\r\n", {"BEGINLIST", "PACK=a.pak", ""}},
        {"CRLF lines, no final line feed", "BEGINLIST\r\nPACK=a.pak", {"BEGINLIST", "PACK=a.pak"}},
        {"LF lines", "a\nb\n", {"a", "b", ""}},
        {"empty file", "", {""}},
        {"lone line feed", "\n", {"", ""}},
        {"CR CR LF keeps one CR", "a\r\r\nb", {"a\r", "b"}},
        {"CR inside a line stays", "a\rb\n", {"a\rb", ""}},
        {"CR at the very end stays", "a\r\nb\r", {"a", "b\r"}},
        {"stored unchanged", "  x  \n\n# note\n;rem\n\tTAB",
         {"  x  ", "", "# note", ";rem", "\tTAB"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Load(row.bytes);
        EXPECT_EQ(LoadedLines(), row.lines);
        EXPECT_EQ(GetScriptPointer(), 0u);
        EXPECT_EQ(GetScriptError(), "");
    }
}

TEST_F(LineStoreTest, LongLinesAreNotCut) {
    const std::string long_line(200000, 'x');
    Load(long_line + "\nend");
    EXPECT_EQ(LoadedLines(), (std::vector<std::string>{long_line, "end"}));
}

TEST_F(LineStoreTest, EmptyFileEndsOnlyAfterOneContinue) {
    Load("");
    EXPECT_FALSE(ScriptEOF());
    EXPECT_EQ(ReturnScriptLine(), "");
    ContinueScript();
    EXPECT_TRUE(ScriptEOF());
}

TEST_F(LineStoreTest, MissingFileLeavesTheStoreEmptyAndTheErrorSurvivesLaterLoads) {
    Load("old\nlines");
    ReadScript(scratch.ProgramPath("missing.txt"));
    EXPECT_EQ(GetScriptSize(), 0u);
    EXPECT_TRUE(ScriptEOF());
    EXPECT_EQ(GetScriptError(), kCannotOpen);

    Load("good");
    EXPECT_EQ(LoadedLines(), std::vector<std::string>{"good"});
    EXPECT_EQ(GetScriptError(), kCannotOpen);
    ClearScript();
    EXPECT_EQ(GetScriptError(), kCannotOpen);
}

TEST_F(LineStoreTest, ADirectoryIsNoScript) {
    mkdir(scratch.Path("dir").c_str(), 0755);
    ReadScript(scratch.ProgramPath("dir"));
    EXPECT_EQ(GetScriptSize(), 0u);
    EXPECT_EQ(GetScriptError(), kCannotOpen);
}

TEST_F(LineStoreTest, StopsAt65536LinesAndSaysSo) {
    struct Row {
        const char* what;
        std::string bytes;
        std::string last_line;
        const char* error;
    };
    const std::vector<Row> rows = {
        {"exactly 65536 lines, no final line feed", NumberedLines(65535) + "line65535",
         "line65535", ""},
        {"65536 lines ended by a line feed: nothing is cut", NumberedLines(65536), "line65535", ""},
        {"one more character after them", NumberedLines(65536) + "x", "line65535", kTooLong},
        {"an empty line more after them", NumberedLines(65536) + "\n", "line65535", kTooLong},
        {"far more lines", NumberedLines(70000), "line65535", kTooLong},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ResetScriptStore();
        Load(row.bytes);
        ASSERT_EQ(GetScriptSize(), 65536u);
        EXPECT_EQ(commands[0], "line0");
        EXPECT_EQ(commands[65535], row.last_line);
        EXPECT_EQ(GetScriptError(), row.error);
    }
}

// A file of `size` zero bytes that takes no room on disk, with a line feed
// at each of `feeds`.
void MakeSparseScript(const std::string& host_path, std::size_t size,
                      const std::vector<std::size_t>& feeds) {
    const int fd = open(host_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
    for (std::size_t at : feeds) ASSERT_EQ(pwrite(fd, "\n", 1, static_cast<off_t>(at)), 1);
    close(fd);
}

// Line feeds every MiB: lines of 1 MiB - 1 bytes, well within the line limit.
std::vector<std::size_t> FeedsEveryMiB(std::size_t size) {
    std::vector<std::size_t> feeds;
    for (std::size_t at = kMiB - 1; at < size; at += kMiB) feeds.push_back(at);
    return feeds;
}

TEST_F(LineStoreTest, ScriptsBeyondTheSizeLimitsLoadNoLine) {
    struct Row {
        const char* what;
        std::size_t size;
        std::vector<std::size_t> feeds;
        std::uint32_t lines;  // 0: refused
    };
    const std::vector<Row> rows = {
        {"a line of exactly 1 MiB", kMiB + 2, {kMiB}, 2},
        {"a line of 1 MiB and one byte", kMiB + 2, {kMiB + 1}, 0},
        {"a last line of 1 MiB and one byte", kMiB + 1, {}, 0},
        {"a script of exactly 64 MiB", 64 * kMiB, FeedsEveryMiB(64 * kMiB), 65},
        {"a script of 64 MiB and one byte", 64 * kMiB + 1, FeedsEveryMiB(64 * kMiB + 1), 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ResetScriptStore();
        Load("an earlier script\nof two lines");
        MakeSparseScript(scratch.Path("big.txt"), row.size, row.feeds);
        ReadScript(scratch.ProgramPath("big.txt"));
        EXPECT_EQ(GetScriptSize(), row.lines);
        EXPECT_EQ(GetScriptError(), row.lines == 0 ? kTooLarge : "");
        EXPECT_EQ(ScriptEOF(), row.lines == 0);
    }
}

TEST_F(LineStoreTest, AnEndlessSourceIsRefusedAfterItsFirstMiB) {
    ASSERT_EQ(symlink("/dev/zero", scratch.Path("zero.txt").c_str()), 0);
    ReadScript(scratch.ProgramPath("zero.txt"));
    EXPECT_EQ(GetScriptSize(), 0u);
    EXPECT_EQ(GetScriptError(), kTooLarge);
}

TEST_F(LineStoreTest, TakeAndAdvanceMatchesTakeThenContinue) {
    Load("one\ntwo\nthree");
    EXPECT_EQ(ReturnScriptLineln(), "one");
    EXPECT_EQ(GetScriptPointer(), 1u);
    EXPECT_EQ(ReturnScriptLine(), "two");
    EXPECT_EQ(GetScriptPointer(), 1u);
    ContinueScript();
    EXPECT_EQ(ReturnScriptLineln(), "three");
    EXPECT_TRUE(ScriptEOF());
}

TEST_F(LineStoreTest, ProgressIsTruncatedPercentageAndPassesOneHundredBeyondTheEnd) {
    Load("a\nb\nc");
    const std::vector<std::uint32_t> expected = {0, 33, 66, 100, 133};
    for (std::uint32_t percent : expected) {
        EXPECT_EQ(GetScriptProgress(), percent) << "at line " << GetScriptPointer();
        ContinueScript();
    }
}

TEST_F(LineStoreTest, ReloadStartsAtTheFirstLineAndClearEmptiesTheStore) {
    Load("a\nb\nc");
    ContinueScript();
    ContinueScript();
    Load("x\ny");
    EXPECT_EQ(GetScriptPointer(), 0u);
    EXPECT_EQ(LoadedLines(), (std::vector<std::string>{"x", "y"}));

    ClearScript();
    EXPECT_EQ(GetScriptSize(), 0u);
    EXPECT_EQ(GetScriptPointer(), 0u);
    EXPECT_TRUE(ScriptEOF());
    EXPECT_EQ(commands[0], "");
    EXPECT_EQ(commands[1], "");
}

}  // namespace
