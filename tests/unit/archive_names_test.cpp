// The rule for stored names on both sides: what the writer takes off before
// it stores a name, which names fit the archive, and what the reader makes of
// a stored name, exact form included.
#include "archive/names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/format.h"

namespace {

using archive_format::WithExactName;

TEST(StoredNames, WriterTakesOffWhatWouldClimbOut) {
    struct Case {
        std::string listed;
        std::string removed;
        std::string stored;
    };
    const std::vector<Case> cases = {
        {"..\\docs\\r.txt", "..\\", "docs\\r.txt"},
        {"..\\..\\a\\f", "..\\..\\", "a\\f"},
        {"a\\..\\..\\b.txt", "a\\..\\..\\", "b.txt"},
        {"sub/../f", "sub/../", "f"},
        {"\\abs\\f", "\\", "abs\\f"},
        {"\\\\server\\share\\f", "\\\\", "server\\share\\f"},
        {"C:\\x\\f", "C:\\", "x\\f"},
        {"C:/x\\f", "C:/", "x\\f"},
        {"..\\C:\\..\\x", "..\\C:\\..\\", "x"},  // a prefix uncovers another ".."
        // A colon without a separator after it is part of a Linux name.
        {"C:f", "", "C:f"},
        {"..\\\\C:..\\x", "..\\\\", "C:..\\x"},
        {"sub\\..", "sub\\..", ""},
        // Names that climb nowhere are stored as they are.
        {"docs\\r.txt", "", "docs\\r.txt"},
        {"...\\a..b\\..c", "", "...\\a..b\\..c"},
        {"ab:c\\d", "", "ab:c\\d"},
        {"", "", ""},
        // The exact form is cut by as many bytes; it stays while it still
        // holds a backslash, and goes when it holds none any more.
        {WithExactName("..\\a\\b", "../a\\b"), "..\\", WithExactName("a\\b", "a\\b")},
        {WithExactName("a\\b\\..\\c", "a\\b/../c"), "a\\b\\..\\", "c"},
        {WithExactName("a\\b", "a\\b"), "", WithExactName("a\\b", "a\\b")},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE("listed `" + row.listed + "`");
        const names::Storable storable = names::MakeStorable(row.listed);
        EXPECT_EQ(storable.removed, row.removed);
        EXPECT_EQ(storable.field, row.stored);
        // What the writer stores, the reader takes as it is.
        const auto parts = archive_format::SplitStoredName(storable.field);
        const names::OutputName output = names::MakeOutputName(parts.program, parts.exact);
        EXPECT_TRUE(output.safe);
        EXPECT_EQ(output.removed, "");
    }
}

TEST(StoredNames, LengthLimitsCountTheProgramFormAndTheWholeField) {
    const auto limit = static_cast<std::size_t>(archive_format::kMaxNameLength);
    const auto field_limit = static_cast<std::size_t>(archive_format::kMaxNameFieldLength);
    struct Case {
        const char* label;
        std::string field;
        bool fits;
    };
    const std::string longest(limit, 'n');
    const std::vector<Case> cases = {
        {"program form at its limit", longest, true},
        {"program form over its limit", longest + "n", false},
        {"extended, both forms at the limit", WithExactName(longest, longest), true},
        {"whole field at its limit", "a" + std::string(1, '\0') + std::string(field_limit - 2, 'x'),
         true},
        {"whole field over its limit",
         "a" + std::string(1, '\0') + std::string(field_limit - 1, 'x'), false},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(names::FitsArchive(row.field), row.fits);
    }
}

TEST(StoredNames, ReaderMakesAPathUnderTheOutputDirectory) {
    struct Case {
        std::string program;
        std::string exact;
        bool safe;
        std::string removed;
        std::string path;  // host form
    };
    const std::vector<Case> cases = {
        {"sub\\f.txt", "", true, "", "sub/f.txt"},
        {"sub/f.txt", "", true, "", "sub/f.txt"},
        {"\\\\server\\f", "", true, "\\\\", "server/f"},
        {"/d:/x/f", "", true, "/d:/", "x/f"},
        {"C:\\..\\x", "", false, "", ""},
        {"C:..\\x", "", true, "", "C:../x"},  // "C:.." is a name, no drive
        {"c:x", "", true, "", "c:x"},
        {"sub\\..\\..\\x", "", false, "", ""},
        {"..", "", false, "", ""},
        // The exact form is the path: a backslash stays in its component.
        {"a\\b", "a\\b", true, "", "a\\b"},
        {"x\\y\\c", "x\\y/c", true, "", "x\\y/c"},
        {"\\a\\b", "/a\\b", true, "\\", "a\\b"},
        // ".." is refused in either form.
        {"..\\x", "../x", false, "", ""},
        {"a\\..\\b", "a\\..\\b", false, "", ""},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE("`" + row.program + "` exact `" + row.exact + "`");
        const names::OutputName output = names::MakeOutputName(row.program, row.exact);
        EXPECT_EQ(output.safe, row.safe);
        if (!row.safe) continue;
        EXPECT_EQ(output.removed, row.removed);
        EXPECT_EQ(output.path, row.path);
    }
}

}  // namespace
