#include "script/line_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "scratch_dir.h"

namespace {

using testing_support::ScratchDir;
using testing_support::WriteBytes;

constexpr const char* kCannotOpen = "Unable to open script file";
constexpr const char* kTooLong = "Script too long: lines after 65536 are not run";

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
        {"65536 line feeds make 65537 lines", NumberedLines(65536), "line65535", kTooLong},
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
