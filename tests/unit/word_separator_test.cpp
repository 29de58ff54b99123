#include "script/word_separator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class WordSeparatorTest : public ::testing::Test {
protected:
    WordSeparatorTest() { ResetWordSeparator(); }
    ~WordSeparatorTest() override { ResetWordSeparator(); }
};

struct SplitRow {
    std::string line;
    std::string slot1;
    std::string slot2;
    std::string slot3;
    std::int32_t count;
};

void ExpectSplit(const SplitRow& row) {
    SCOPED_TRACE("line '" + row.line + "'");
    EXPECT_EQ(seperate_words(row.line), row.count);
    EXPECT_EQ(get_memory(0), row.line);
    EXPECT_EQ(get_memory(1), row.slot1);
    EXPECT_EQ(get_memory(2), row.slot2);
    EXPECT_EQ(get_memory(3), row.slot3);
    EXPECT_EQ(get_memory(4), "");
}

TEST_F(WordSeparatorTest, SplitsEveryLineOfTheTableWithTheStartUpSet) {
    const std::vector<SplitRow> rows = {
        {"PRESERVE_DIRECTORY_TREE=ON", "PRESERVE_DIRECTORY_TREE", "ON", "", 2},
        {"PRESERVE_DIRECTORY_TREE = ON", "PRESERVE_DIRECTORY_TREE ", " ON", "", 2},
        {R"(ADDFILE "C:\My Files\a.txt")", "ADDFILE ", R"(C:\My Files\a.txt)", "", 2},
        {R"(ADDFILE("C:\My Files\a.txt"))", "ADDFILE", R"(C:\My Files\a.txt)", "", 2},
        {R"(ADDFILE=C:\My Files\a.txt)", "ADDFILE", R"(C:\My Files\a.txt)", "", 2},
        {R"(CHDIR_OUT("C:\Out"))", "CHDIR_OUT", R"(C:\Out)", "", 2},
        {R"~(PRINT="Hello, world (1)")~", "PRINT", "Hello, world (1)", "", 2},
        {"PRINT=Hello, world", "PRINT", "Hello", " world", 3},
        {R"(X="")", "X", "", "", 2},
        {R"(""abc)", "", "abc", "", 2},
        {R"(ab"cd"ef)", "ab", "cd", "ef", 3},
        {R"(X="a""b")", "X", "a", "b", 3},
        {R"(X="abc)", "X", "abc", "", 2},
        {"==a==b==", "a", "b", "", 2},
        {"a,b,,c", "a", "b", "c", 3},
        {"f(a)(b)", "f", "a", "b", 3},
        {"BEGINLIST", "BEGINLIST", "", "", 1},
        {"   ", "   ", "", "", 1},
        {"A\tB", "A\tB", "", "", 1},
        {"", "", "", "", 0},
    };
    for (const SplitRow& row : rows) ExpectSplit(row);
}

TEST_F(WordSeparatorTest, DefaultSetupSeparatesAtBlanks) {
    default_delimeter_setup();
    const std::vector<SplitRow> rows = {
        {"PRESERVE_DIRECTORY_TREE = ON", "PRESERVE_DIRECTORY_TREE", "ON", "", 2},
        {R"(ADDFILE=C:\My Files\a.txt)", "ADDFILE", R"(C:\My)", R"(Files\a.txt)", 3},
        {R"(ADDFILE "C:\My Files\a.txt")", "ADDFILE", R"(C:\My Files\a.txt)", "", 2},
    };
    for (const SplitRow& row : rows) ExpectSplit(row);
}

TEST_F(WordSeparatorTest, SeparatorSetsReadBackByPosition) {
    const std::string startup = {'\n', '=', '=', '(', ',', ')'};
    const std::string defaults = {'\n', ' ', '=', '(', ',', ')'};
    for (int position = 0; position < 6; ++position) {
        EXPECT_EQ(get_delimeter(position), startup[position]) << "start-up, position " << position;
    }
    default_delimeter_setup();
    for (int position = 0; position < 6; ++position) {
        EXPECT_EQ(get_delimeter(position), defaults[position]) << "default, position " << position;
    }
}

TEST_F(WordSeparatorTest, OnlySeparatorsInForceSeparate) {
    set_delimeter_num(0);
    ExpectSplit({"a=b(c)", "a=b(c)", "", "", 1});
    set_delimeter_num(3);  // line feed and the two equals signs
    ExpectSplit({"a=b(c)", "a", "b(c)", "", 2});
    set_delimeter(1, ';');
    ExpectSplit({"a;b=c", "a", "b", "c", 3});
}

TEST_F(WordSeparatorTest, EveryCallEmptiesTheSlotsOfTheLineBefore) {
    ASSERT_EQ(seperate_words("A=b,c"), 3);
    ExpectSplit({"ONE", "ONE", "", "", 1});
}

TEST_F(WordSeparatorTest, OnlyTheFirst2047CharactersAreSplit) {
    // The separator is always within the first 2047 characters; the word
    // after it starts at index 2046 in the first row and 2047 in the second.
    const std::string inside = std::string(2045, 'a') + "=bc";
    const std::string beyond = std::string(2046, 'a') + "=bc";
    ExpectSplit({inside, std::string(2045, 'a'), "b", "", 2});
    ExpectSplit({beyond, std::string(2046, 'a'), "", "", 1});
    const std::string long_line = std::string(5000, 'x') + "=tail";
    EXPECT_EQ(seperate_words(long_line), 1);
    EXPECT_EQ(get_memory(0), long_line);
    EXPECT_EQ(get_memory(1), std::string(2047, 'x'));
}

TEST_F(WordSeparatorTest, TextAfterANulTakesNoPartInTheWords) {
    const std::string line("a=b\0=c", 6);
    EXPECT_EQ(seperate_words(line), 2);
    EXPECT_EQ(get_memory(0), line);
    EXPECT_EQ(get_memory(3), "");
}

TEST_F(WordSeparatorTest, MoreThan255WordsStayWithinTheSlots) {
    std::string commas;
    std::string empty_pairs;
    for (int i = 0; i < 400; ++i) {
        commas += "w" + std::to_string(i) + ",";
        empty_pairs += "\"\"";
    }
    EXPECT_EQ(seperate_words(commas), 255);
    EXPECT_EQ(get_memory(1), "w0");
    EXPECT_EQ(get_memory(254), "w253");
    EXPECT_EQ(get_memory(255).rfind("w254", 0), 0u);

    EXPECT_LE(seperate_words(empty_pairs), 255);
    EXPECT_EQ(get_memory(0), empty_pairs);
}

TEST_F(WordSeparatorTest, SlotsOutsideTheRangeReadEmptyAndTakeNothing) {
    set_memory(0, "zero");
    set_memory(255, "last");
    set_memory(256, "outside");
    set_memory(-1, "outside");
    EXPECT_EQ(get_memory(0), "zero");
    EXPECT_EQ(get_memory(255), "last");
    EXPECT_EQ(get_memory(256), "");
    EXPECT_EQ(get_memory(-1), "");
    set_delimeter(6, 'x');
    EXPECT_EQ(get_delimeter(6), '\0');
}

}  // namespace
