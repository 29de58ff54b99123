// What exclusion patterns leave out and which records the names of a command
// line choose.
#include "archive/selection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using selection::ExclusionList;
using selection::MemberChoice;

ExclusionList Exclusions(const std::vector<std::string>& patterns) {
    ExclusionList list;
    for (const std::string& pattern : patterns) list.Add(pattern);
    return list;
}

TEST(Exclusions, NamePatternsSeeTheOwnNamePathPatternsTheRelativePath) {
    struct Case {
        std::string pattern;
        std::string own_name;
        std::string relative_path;
        bool excluded;
    };
    const std::vector<Case> cases = {
        {"*.o", "main.o", "src/main.o", true},
        {"*.o", "main.O", "main.O", false},  // letter case matters
        {"*.o", "o", "o", false},
        {".git", ".git", "sub/.git", true},
        {"build", "build.txt", "build.txt", false},
        {"build/*", "x.c", "build/obj/x.c", true},  // '*' crosses separators
        {"build/*", "build", "build", false},
        {"build\\*", "x.c", "build/x.c", true},  // '\' is a separator too
        {"src/gen", "gen", "src/gen", true},
        {"src/gen", "gen", "other/src/gen", false},
        {"[ab]?.c", "a1.c", "a1.c", true},
        {"*/x.c", "x.c", "x.c", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern + " on " + c.relative_path);
        EXPECT_EQ(Exclusions({c.pattern}).Excludes(c.own_name, c.relative_path), c.excluded);
    }
}

TEST(Exclusions, AStoredPathIsLeftOutWithAnyDirectoryItLiesIn) {
    const ExclusionList list = Exclusions({"node_modules", "build/*"});
    EXPECT_TRUE(list.ExcludesPath("node_modules"));
    EXPECT_TRUE(list.ExcludesPath("a/node_modules/m/i.js"));
    EXPECT_TRUE(list.ExcludesPath("build/obj/x.c"));
    EXPECT_FALSE(list.ExcludesPath("src/build"));
    EXPECT_FALSE(list.ExcludesPath("a/node_modules.txt"));
    EXPECT_FALSE(ExclusionList().ExcludesPath("anything"));
}

TEST(MemberChoice, NamesChooseTheirRecordTheirDirectoryAndTheirMatches) {
    struct Case {
        std::string name;
        std::string program;
        std::string exact;
        bool taken;
    };
    const std::vector<Case> cases = {
        {"docs/a.txt", "docs\\a.txt", "", true},
        {"docs\\a.txt", "docs\\a.txt", "", true},
        {"docs", "docs\\a.txt", "", true},
        {"docs/", "docs\\sub\\b.txt", "", true},
        {"doc", "docs\\a.txt", "", false},
        {"docs/a", "docs\\a.txt", "", false},
        {"*.txt", "docs\\a.txt", "", true},
        {"d?cs/*", "docs\\a.txt", "", true},
        {"a.txt", "docs\\a.txt", "", false},
        {"b\\c", "b\\c", "b\\c", true},  // the exact name, or the program form
        {"b", "b\\c", "b\\c", true},     // read with '\' as a separator
        {"B", "b\\c", "b\\c", false},
        {"/", "docs\\a.txt", "", true},  // the root holds everything
        {"", "docs\\a.txt", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + " on " + c.program);
        MemberChoice choice({c.name}, ExclusionList());
        EXPECT_EQ(choice.Takes(c.program, c.exact), c.taken);
        EXPECT_EQ(choice.NotFound().empty(), c.taken);
    }
}

TEST(MemberChoice, ExcludedRecordsAreNotTakenAndDoNotCountAsFound) {
    MemberChoice choice({"docs", "gone"}, Exclusions({"*.o"}));
    EXPECT_TRUE(choice.Takes("docs\\a.txt", ""));
    EXPECT_FALSE(choice.Takes("docs\\a.o", ""));
    EXPECT_FALSE(choice.Takes("other.txt", ""));
    EXPECT_EQ(choice.NotFound(), std::vector<std::string>{"gone"});

    MemberChoice only_excluded({"a.o"}, Exclusions({"*.o"}));
    EXPECT_FALSE(only_excluded.Takes("a.o", ""));
    EXPECT_EQ(only_excluded.NotFound(), std::vector<std::string>{"a.o"});

    MemberChoice everything({}, Exclusions({"*.o"}));
    EXPECT_TRUE(everything.Takes("x\\y.c", ""));
    EXPECT_FALSE(everything.Takes("x\\y.o", ""));
    EXPECT_TRUE(everything.NotFound().empty());
}

}  // namespace
