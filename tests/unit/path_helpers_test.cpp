#include "paths/path_helpers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "scratch_dir.h"

namespace {

using testing_support::ScopedCurrentDirectory;
using testing_support::ScratchDir;
using testing_support::WriteBytes;

bool IsDirectory(const std::string& host_path) {
    struct stat info {};
    return stat(host_path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// ---- AnalyseFilename ---------------------------------------------------------

struct AnalyseRow {
    std::string path;
    std::string directory;  // mode 0
    std::string name;       // mode 1
    std::string extension;  // mode 2
    std::string full_name;  // mode 3
};

TEST(AnalyseFilename, SplitsEveryPathOfTheTableInAllFourModes) {
    const std::vector<AnalyseRow> rows = {
        {R"(C:\Program Files\Tool\tool.exe)", R"(C:\Program Files\Tool\)", "tool", "exe", "tool.exe"},
        {R"(C:\data\archive.tar.gz)", R"(C:\data\)", "archive.tar", "gz", "archive.tar.gz"},
        {R"(C:\data\readme)", R"(C:\data\)", "readme", "", "readme"},
        {R"(C:\data\)", R"(C:\data\)", "", "", ""},
        {R"(C:\my.dir\file)", R"(C:\my.dir\)", "file", "", "file"},
        {R"(sub\dir\file.txt)", R"(sub\dir\)", "file", "txt", "file.txt"},
        {"file.txt", "", "file", "txt", "file.txt"},
        {"readme", "", "readme", "", "readme"},
        {".profile", "", ".profile", "", ".profile"},
        {R"(dir\.hidden)", R"(dir\)", "", "hidden", ".hidden"},
        {R"(\file.txt)", "", R"(\file)", "txt", R"(\file.txt)"},
        {"C:/dir/file.txt", "", "C:/dir/file", "txt", "C:/dir/file.txt"},
        {"C:file.txt", "", "C:file", "txt", "C:file.txt"},
        {"file.", "", "file", "", "file."},
        {"job.vkjob", "", "job", "vkjob", "job.vkjob"},
        {"page.htm#top", "", "page", "htm", "page.htm"},
        {"page.htm#", "", "page", "htm#", "page.htm#"},
        {"page.php?a=1#x", "", "page", "php", "page.php"},
        {"a#b.txt", "", "a#b", "", "a#b."},
        {"#abc.txt", "", "#abc", "txt", "#abc.txt"},
        {R"(C:\C#\job.vkjob)", R"(C:\C#\)", "job", "", "job."},
        {"", "", "", "", ""},
    };
    for (const AnalyseRow& row : rows) {
        SCOPED_TRACE("path '" + row.path + "'");
        EXPECT_EQ(AnalyseFilename(row.path, 0), row.directory);
        EXPECT_EQ(AnalyseFilename(row.path, 1), row.name);
        EXPECT_EQ(AnalyseFilename(row.path, 2), row.extension);
        EXPECT_EQ(AnalyseFilename(row.path, 3), row.full_name);
        for (std::int32_t bad_mode : {-1, 4, 100}) {
            EXPECT_EQ(AnalyseFilename(row.path, bad_mode), "") << "mode " << bad_mode;
        }
    }
}

TEST(AnalyseFilename, StopsAtTheFirstNulLikeACString) {
    const std::string path("dir\\a.txt\0.zip", 14);
    EXPECT_EQ(AnalyseFilename(path, 2), "txt");
    EXPECT_EQ(AnalyseFilename(path, 3), "a.txt");
}

// ---- Copy --------------------------------------------------------------------

TEST(Copy, ClipsStartAndEndAsTheExamplesShow) {
    struct Row {
        std::string text;
        std::int32_t start;
        std::int32_t span;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"abcdef", 0, 0, "a"},       {"abcdef", 0, 2, "abc"},   {"abcdef", 2, 10, "cdef"},
        {"abcdef", -3, 2, "abc"},    {"abcdef", 3, -1, ""},     {"abcdef", 3, -4, "def"},
        {"abcdef", 0, -1, "abcdef"}, {"abcdef", 10, 1, ""},     {"abcdef", 5, 0, "f"},
        {"abcdef", 6, 0, ""},        {"", 0, 0, ""},            {"", 0, 5, ""},
        {"", -2, -2, ""},            {"", 3, -9, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("Copy('" + row.text + "', " + std::to_string(row.start) + ", " +
                     std::to_string(row.span) + ")");
        EXPECT_EQ(Copy(row.text, row.start, row.span), row.expected);
    }
}

// ---- FixDir, trim2 -----------------------------------------------------------

using BeforeAfter = std::vector<std::pair<std::string, std::string>>;

// Runs a helper that changes its string in place on each `before`.
void ExpectInPlace(const char* helper, void (*change)(std::string&), const BeforeAfter& rows) {
    for (const auto& [before, after] : rows) {
        SCOPED_TRACE(std::string(helper) + "('" + before + "')");
        std::string text = before;
        change(text);
        EXPECT_EQ(text, after);
    }
}

TEST(FixDir, AppendsOneBackslashOnlyWhenTheLastCharacterIsNotOne) {
    ExpectInPlace("FixDir", FixDir,
                  {
                      {R"(C:\dir)", R"(C:\dir\)"},
                      {R"(C:\dir\)", R"(C:\dir\)"},
                      {"", R"(\)"},
                      {"C:/dir/", R"(C:/dir/\)"},
                      {R"(a\\)", R"(a\\)"},
                  });
}

TEST(Trim2, RemovesOnlySpacesAtBothEnds) {
    ExpectInPlace("trim2", trim2,
                  {{"  a b  ", "a b"}, {"\ta", "\ta"}, {"a\t ", "a\t"}, {"   ", ""},
                   {"", ""}, {"x", "x"}, {" \r\n", "\r\n"}});
}

// ---- EqualIgnoreCase -----------------------------------------------------------

TEST(EqualIgnoreCase, FoldsOnlyAsciiLetters) {
    struct Row {
        std::string a;
        std::string b;
        bool equal;
    };
    const std::vector<Row> rows = {
        {"BeginList", "BEGINLIST", true},
        {"addfile", "ADDFILE", true},
        {"ADDFILE", "ADDFILE ", false},  // the lengths differ
        {"", "", true},
        {"a", "", false},
        {"PACK=1", "pack=1", true},
        {"[", "{", false},  // 0x5B and 0x7B differ by the case bit but are no letters
        {"@", "`", false},
        {"\xE4", "\xC4", false},  // Latin-1 a-umlaut and A-umlaut
        {"\xE4", "\xE4", true},
        {"x\xFF", "X\xFF", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("'" + row.a + "' vs '" + row.b + "'");
        EXPECT_EQ(EqualIgnoreCase(row.a, row.b), row.equal);
        EXPECT_EQ(EqualIgnoreCase(row.b, row.a), row.equal);
    }
}

// ---- CreateDir -----------------------------------------------------------------

class CreateDirTest : public ::testing::Test {
protected:
    ScratchDir scratch;
    ScopedCurrentDirectory inside{scratch.path()};
};

TEST_F(CreateDirTest, TrailingBackslashCreatesEveryLevelAndReportsFailure) {
    EXPECT_FALSE(CreateDir(R"(out\a\b\)"));
    EXPECT_TRUE(IsDirectory(scratch.Path("out")));
    EXPECT_TRUE(IsDirectory(scratch.Path("out/a")));
    EXPECT_TRUE(IsDirectory(scratch.Path("out/a/b")));
}

TEST_F(CreateDirTest, AbsolutePathCreatesLevelsOnceAndSucceedsOnce) {
    const std::string path = scratch.ProgramPath(R"(x\y)");
    EXPECT_TRUE(CreateDir(path.c_str()));
    EXPECT_TRUE(IsDirectory(scratch.Path("x/y")));
    EXPECT_FALSE(CreateDir(path.c_str()));
}

TEST_F(CreateDirTest, ForwardSlashesAlsoSeparate) {
    EXPECT_TRUE(CreateDir("fw/a\\b"));
    EXPECT_TRUE(IsDirectory(scratch.Path("fw/a/b")));
}

TEST_F(CreateDirTest, EmptyPathCreatesNothingAndFails) { EXPECT_FALSE(CreateDir("")); }

TEST_F(CreateDirTest, NeverCreatesADrivePrefix) {
    EXPECT_FALSE(CreateDir(R"(C:\x)"));  // C: does not exist, so C:\x cannot be made
    EXPECT_FALSE(IsDirectory(scratch.Path("C:")));
}

TEST_F(CreateDirTest, PathThroughARegularFileFails) {
    WriteBytes(scratch.Path("file"), "x");
    EXPECT_FALSE(CreateDir(R"(file\sub)"));
    EXPECT_FALSE(IsDirectory(scratch.Path("file/sub")));
}

// ---- FileSize ------------------------------------------------------------------

TEST(FileSize, MeasuresRegularFilesAndRefusesEverythingElse) {
    ScratchDir scratch;
    WriteBytes(scratch.Path("empty"), "");
    WriteBytes(scratch.Path("seven"), "1234567");
    WriteBytes(scratch.Path("big"), std::string(70000, 'b'));
    mkdir(scratch.Path("dir").c_str(), 0755);
    mkfifo(scratch.Path("fifo").c_str(), 0644);  // nobody writes to it
    symlink("seven", scratch.Path("link").c_str());
    const std::vector<std::pair<std::string, std::int32_t>> rows = {
        {"missing", -1}, {"empty", 0}, {"seven", 7},          {"big", 70000},
        {"link", 7},     {"dir", -1},  {R"(seven\x)", -1}, {"fifo", -1},
    };
    for (const auto& [name, size] : rows) {
        SCOPED_TRACE(name);
        EXPECT_EQ(FileSize(scratch.ProgramPath(name)), size);
    }
}

}  // namespace
