#include "archive/attributes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/format.h"

namespace {

namespace at = attributes;

TEST(AttributesTest, FormatAndParseAgree) {
    struct Row {
        const char* label;
        at::Attributes attributes;
        std::string text;
    };
    const std::vector<Row> rows = {
        {"file", {at::Kind::File, true, 0755, true, true, 1733900000, 123456789, ""},
         "mode=755 mtime=1733900000.123456789"},
        {"sticky directory", {at::Kind::Directory, true, 01777, true, true, 0, 5, ""},
         "mode=1777 mtime=0.000000005 type=dir"},
        {"link with blanks, backslashes and a line feed",
         {at::Kind::Link, true, 0777, true, true, -2, 500000000, "../a b\\c\nd"},
         "mode=777 mtime=-2.500000000 type=link link=../a\\sb\\\\c\\nd"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(at::Format(row.attributes), row.text);
        const at::Parsed parsed = at::Parse(row.text);
        EXPECT_TRUE(parsed.malformed.empty());
        EXPECT_EQ(parsed.attributes.kind, row.attributes.kind);
        EXPECT_EQ(parsed.attributes.mode, row.attributes.mode);
        EXPECT_EQ(parsed.attributes.seconds, row.attributes.seconds);
        EXPECT_EQ(parsed.attributes.nanoseconds, row.attributes.nanoseconds);
        EXPECT_EQ(parsed.attributes.link_target, row.attributes.link_target);
    }
}

TEST(AttributesTest, WhatIsAppliedAndWhatIsMalformed) {
    struct Row {
        std::string text;
        std::vector<std::string> malformed;
        bool has_mode;
        std::uint32_t mode;
        bool time_set;  // a time to apply
    };
    const std::vector<Row> rows = {
        {"mode=7777 mtime=5", {}, true, 01777, true},  // set-ID bits never applied
        {"mode=4755", {}, true, 0755, false},
        {"mode=644 mtime=100000000000000000000", {}, true, 0644, false},  // left unset
        {"mode=644 owner=root later=1", {}, true, 0644, false},           // unknown keys
        {"mode=9 mtime=1.1234567890 junk =x type=odd link=\\q",
         {"mode=9", "mtime=1.1234567890", "junk", "=x", "type=odd", "link=\\q"}, false, 0, false},
        {"mode=17777", {"mode=17777"}, false, 0, false},
        {"type=link", {"type=link"}, false, 0, false},  // a link without a target
        {"", {}, false, 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const at::Parsed parsed = at::Parse(row.text);
        EXPECT_EQ(parsed.malformed, row.malformed);
        EXPECT_EQ(parsed.attributes.has_mode, row.has_mode);
        EXPECT_EQ(parsed.attributes.mode, row.mode);
        EXPECT_EQ(parsed.attributes.has_time && parsed.attributes.time_fits, row.time_set);
    }
}

TEST(AttributesTest, RequestFieldsSplitIntoMatchingForms) {
    const std::string field = at::RequestField("sub/a\\b", at::Kind::Directory);
    const archive_format::StoredNameParts parts = archive_format::SplitStoredName(field);
    EXPECT_EQ(parts.program, "sub\\a\\b\\");
    EXPECT_EQ(parts.exact, "sub/a\\b/");
    EXPECT_TRUE(parts.has_attributes);
    EXPECT_TRUE(parts.attributes.empty());
    EXPECT_TRUE(archive_format::ExactNameMatches(parts.program, parts.exact));
    EXPECT_FALSE(archive_format::SplitStoredName(std::string("a\0a", 3)).has_attributes);
    const auto mode_text = [](at::Kind kind, std::uint32_t mode) {
        at::Attributes attributes;
        attributes.kind = kind;
        attributes.mode = mode;
        return at::ModeText(attributes);
    };
    EXPECT_EQ(mode_text(at::Kind::Directory, 01750), "drwxr-x--T");
    EXPECT_EQ(mode_text(at::Kind::File, 0755), "-rwxr-xr-x");
    EXPECT_EQ(mode_text(at::Kind::Link, 0777), "lrwxrwxrwx");
}

}  // namespace
