// The file entries of an installer list as "stubtool publish" reads and fills them: found in the
// script text whatever its layout, filled without touching anything else, refused where the
// text cannot be followed.
#include "tools/stubtool/ReleaseList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace stubtool;

namespace {

const std::string kSha(64, 'b');

std::string Fill(const std::string& script, const std::vector<EntryFacts>& facts, size_t* found = nullptr) {
    std::vector<ListEntry> entries;
    std::string error;
    EXPECT_TRUE(FindListEntries(script, entries, error)) << error;
    if (found) *found = entries.size();
    return FillListEntries(script, entries, facts);
}

} // namespace

TEST(ReleaseList, FillsSizeAndShaOfEveryFileEntryAndNothingElse) {
    const struct {
        const char* name;
        std::string script;
        std::string filled;
    } cases[] = {
        {"one-line entry with a size",
         "var C = [{ \"type\": T.X64 | T.MustSelect, \"files\": [\n"
         "  { \"name\": \"a\\\\b.msi\", \"url\": \"https://h/a.msi\", \"size\": 0, \"crc\": \"\" }\n]}];\n",
         "var C = [{ \"type\": T.X64 | T.MustSelect, \"files\": [\n"
         "  { \"name\": \"a\\\\b.msi\", \"url\": \"https://h/a.msi\", \"size\": 7, \"sha256\": \"" + kSha + "\", \"crc\": \"\" }\n]}];\n"},
        {"no size, an old sha256",
         "[{\"sha256\": \"00\", \"url\": 'https://h/a\\/b.mst'}]",
         "[{\"sha256\": \"" + kSha + "\", \"url\": 'https://h/a\\/b.mst', \"size\": 7}]"},
        {"neither, keys spaced out",
         "[{ \"url\" :\n \"https://h/x\" }]",
         "[{ \"url\" :\n \"https://h/x\", \"size\": 7, \"sha256\": \"" + kSha + "\" }]"},
        {"braces and keys inside strings and comments are text",
         "// { \"url\": \"https://h/no\" }\n/* {\"url\": \"https://h/no\"} */ var s = \"{ \\\"url\\\": 1 }\";\n"
         "[{ \"param\": \"/qn {x}\", \"url\": \"https://h/y\", \"size\": 12 }]",
         "// { \"url\": \"https://h/no\" }\n/* {\"url\": \"https://h/no\"} */ var s = \"{ \\\"url\\\": 1 }\";\n"
         "[{ \"param\": \"/qn {x}\", \"url\": \"https://h/y\", \"size\": 7, \"sha256\": \"" + kSha + "\" }]"},
        {"components and registry objects are no file entries",
         "[{ \"registry\": { \"key\": \"K\", \"value\": \"V\" }, \"files\": [] }]",
         "[{ \"registry\": { \"key\": \"K\", \"value\": \"V\" }, \"files\": [] }]"},
    };
    for (const auto& c : cases) {
        size_t found = 0;
        const std::string filled = Fill(c.script, {{7, kSha}}, &found);
        EXPECT_EQ(filled, c.filled) << c.name;
        EXPECT_EQ(found, c.filled == c.script ? 0u : 1u) << c.name;
    }
    std::vector<ListEntry> entries;
    std::string error;
    ASSERT_TRUE(FindListEntries("[{\"url\": \"https://h/a\\/b\"}, {\"url\": \"https://h/c\"}]", entries, error));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].url, "https://h/a/b");
    EXPECT_EQ(entries[1].url, "https://h/c");
}

TEST(ReleaseList, RefusesTextItCannotFollow) {
    const struct {
        const char* name;
        std::string script;
        const char* error;
    } cases[] = {
        {"url from a variable", "[{ \"url\": base + \"/a\" }]", "line 1: \"url\" is not a string"},
        {"url with an escape", "[{ \"url\": \"https://h/\\u0061\" }]", "line 1: the url holds an escape"},
        {"size as an expression", "[\n{ \"url\": \"https://h/a\", \"size\": 1 + 2 }]", "line 2: \"size\" is not a whole number"},
        {"sha256 as a number", "[{ \"url\": \"https://h/a\", \"sha256\": 5 }]", "\"sha256\" is not a string"},
        {"two urls", "[{ \"url\": \"https://h/a\", \"url\": \"https://h/b\" }]", "two \"url\" keys"},
        {"string across lines", "[{ \"name\": \"a\n\" }]", "a string that does not end"},
        {"unclosed comment", "[] /* ", "a comment that does not end"},
        {"unbalanced", "[{ \"url\": \"https://h/a\" ]", "unbalanced brackets"},
        {"never closed", "[{ \"url\": \"https://h/a\" }", "a bracket that is never closed"},
    };
    for (const auto& c : cases) {
        std::vector<ListEntry> entries;
        std::string error;
        EXPECT_FALSE(FindListEntries(c.script, entries, error)) << c.name;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
    }
    // A "size" the tool cannot fill outside a file entry is not its business.
    std::vector<ListEntry> entries;
    std::string error;
    EXPECT_TRUE(FindListEntries("[{ \"size\": width * 2 }]", entries, error)) << error;
}
