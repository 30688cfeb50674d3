// The pure rules of signed releases: the manifest block read exactly as written and nothing
// else, and token answers that keep a download where the publisher put it.
#include "stubframework/core/ReleaseManifest.h"
#include "stubframework/core/TokenAnswerRule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace stubframework::core;

namespace {

const std::string kHash(64, 'a');
const std::string kHead = "/* TANDORA-RELEASE-MANIFEST 1\nproduct Tandora\nserial 12\n";
const std::string kEnd = "END-TANDORA-RELEASE-MANIFEST */\n";

bool Parse(const std::string& text, ReleaseManifest& manifest, std::string& error) {
    return ParseReleaseManifest(reinterpret_cast<const uint8_t*>(text.data()), text.size(), manifest, error);
}

} // namespace

TEST(ReleaseManifest, ParsesOnlyTheExactBlockAtTheStart) {
    const struct {
        const char* name;
        std::string text;
        const char* error;    // null: parses
    } cases[] = {
        {"block, then the script", kHead + "file " + kHash + " 10 https://d.example/a.msi\n" + kEnd + "var Components = [];\n", nullptr},
        {"CRLF lines, no file, end at EOF", "/* TANDORA-RELEASE-MANIFEST 1\r\nproduct Tandora\r\nserial 0\r\nEND-TANDORA-RELEASE-MANIFEST */", nullptr},
        {"upper-case hex", kHead + "file " + std::string(64, 'F') + " 0 http://d/a\n" + kEnd, nullptr},
        {"largest size", kHead + "file " + kHash + " 9223372036854775807 http://d/a\n" + kEnd, nullptr},
        {"mirrors before and among files", kHead + "mirror https://d/ https://m.example/t/\nfile " + kHash + " 1 https://d/a\nmirror http://d/ http://n/\n" + kEnd, nullptr},
        {"mirror from https to http", kHead + "mirror https://d/ http://m/\n" + kEnd, "line 4: a mirror of an https address is https too"},
        {"mirror base not ending a path", kHead + "mirror https://d/x https://m/\n" + kEnd, "line 4: a mirror's addresses end with"},
        {"mirror with a query", kHead + "mirror https://d/ https://m/?t=1/\n" + kEnd, "line 4: a mirror's addresses end with"},
        {"mirror with one address", kHead + "mirror https://d/\n" + kEnd, "line 4: expected \"mirror BASE ALTERNATE\""},
        {"script first", "var x = 1;\n" + kHead + kEnd, "does not begin with the release manifest"},
        {"byte order mark first", "\xEF\xBB\xBF" + kHead + kEnd, "does not begin with the release manifest"},
        {"marker later in a comment", "// /* TANDORA-RELEASE-MANIFEST 1\n", "does not begin"},
        {"another version", "/* TANDORA-RELEASE-MANIFEST 2\nproduct Tandora\nserial 1\n" + kEnd, "line 1: release manifest of an unknown version"},
        {"no end line", kHead + "file " + kHash + " 1 http://d/a\n", "no end line"},
        {"end before serial", "/* TANDORA-RELEASE-MANIFEST 1\nproduct Tandora\n" + kEnd, "line 3: the end line before"},
        {"serial before product", "/* TANDORA-RELEASE-MANIFEST 1\nserial 1\nproduct Tandora\n" + kEnd, "line 2: expected \"product NAME\""},
        {"product with a blank", "/* TANDORA-RELEASE-MANIFEST 1\nproduct Tan dora\nserial 1\n" + kEnd, "line 2"},
        {"serial with a sign", "/* TANDORA-RELEASE-MANIFEST 1\nproduct Tandora\nserial +1\n" + kEnd, "line 3"},
        {"serial with a leading zero", "/* TANDORA-RELEASE-MANIFEST 1\nproduct Tandora\nserial 012\n" + kEnd, "line 3"},
        {"serial past 64 bits", "/* TANDORA-RELEASE-MANIFEST 1\nproduct Tandora\nserial 18446744073709551616\n" + kEnd, "line 3"},
        {"size past 63 bits", kHead + "file " + kHash + " 9223372036854775808 http://d/a\n" + kEnd, "line 4: the size"},
        {"short hash", kHead + "file " + std::string(63, 'a') + " 1 http://d/a\n" + kEnd, "line 4: the SHA-256"},
        {"hash with a non-hex digit", kHead + "file " + std::string(63, 'a') + "g 1 http://d/a\n" + kEnd, "line 4: the SHA-256"},
        {"two blanks", kHead + "file " + kHash + "  1 http://d/a\n" + kEnd, "line 4: the size"},
        {"blank in the URL", kHead + "file " + kHash + " 1 http://d/a b\n" + kEnd, "line 4: URL holds a blank"},
        {"ftp URL", kHead + "file " + kHash + " 1 ftp://d/a\n" + kEnd, "line 4: URL is not http"},
        {"URL without host", kHead + "file " + kHash + " 1 https:///a\n" + kEnd, "line 4: URL names no host"},
        {"comment closed early", kHead + "file " + kHash + " 1 http://d/a*/x\n" + kEnd, "line 4: \"*/\""},
        {"same URL, other query", kHead + "file " + kHash + " 1 http://d/a?x=1\nfile " + kHash + " 2 http://d/a?y=2\n" + kEnd, "line 5: URL listed twice"},
        {"unknown line", kHead + "signer someone\n" + kEnd, "line 4: expected \"file"},
        {"empty line", kHead + "\n" + kEnd, "line 4"},
        {"NUL in a line", kHead + std::string("file \0", 6) + "\n" + kEnd, "line 4: control character"},
    };
    for (const auto& c : cases) {
        ReleaseManifest manifest;
        std::string error;
        const bool parsed = Parse(c.text, manifest, error);
        EXPECT_EQ(parsed, c.error == nullptr) << c.name << ": " << error;
        if (c.error) {
            EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
        }
    }
}

TEST(ReleaseManifest, KeepsEveryFieldAndWritesTheSameBlockBack) {
    const std::string block = kHead + "mirror https://d.example/22/ https://m1.example/t/\n" +
                              "mirror https://d.example/ https://m2.example/\nfile " + kHash + " 10 https://d.example/22/a.msi\nfile " + std::string(64, '0') +
                              " 28 https://d.example/22/a.msi.meta\n" + kEnd;
    const std::string script = "var Components = [];\n";
    ReleaseManifest manifest;
    std::string error;
    ASSERT_TRUE(Parse(block + script, manifest, error)) << error;
    EXPECT_EQ(manifest.product, "Tandora");
    EXPECT_EQ(manifest.serial, 12u);
    ASSERT_EQ(manifest.files.size(), 2u);
    EXPECT_EQ(manifest.files[0].size, 10u);
    EXPECT_EQ(manifest.files[0].sha256[31], 0xAA);
    EXPECT_EQ(manifest.files[1].url, "https://d.example/22/a.msi.meta");
    EXPECT_EQ(manifest.end, block.size());
    EXPECT_EQ(FormatReleaseManifest(manifest), block);
    // Every mirror whose base the URL begins with, in the block's order, after the URL itself.
    EXPECT_EQ(ReleaseAddresses(manifest, "https://d.example/22/a.msi?t=1"),
              (std::vector<std::string>{"https://d.example/22/a.msi?t=1", "https://m1.example/t/a.msi?t=1",
                                        "https://m2.example/22/a.msi?t=1"}));
    EXPECT_EQ(ReleaseAddresses(manifest, "https://d.example.com/a"), (std::vector<std::string>{"https://d.example.com/a"}));

    // Matching ignores the query and the fragment a token or a cache breaker adds, nothing else.
    EXPECT_EQ(FindReleaseFile(manifest, "https://d.example/22/a.msi?token=x&timestamp=1"), &manifest.files[0]);
    EXPECT_EQ(FindReleaseFile(manifest, "https://d.example/22/a.msi#part"), &manifest.files[0]);
    EXPECT_EQ(FindReleaseFile(manifest, "https://d.example/22/a.msi.meta"), &manifest.files[1]);
    EXPECT_EQ(FindReleaseFile(manifest, "https://d.example/22/A.msi"), nullptr);
    EXPECT_EQ(FindReleaseFile(manifest, "http://d.example/22/a.msi"), nullptr);
    EXPECT_EQ(FindReleaseFile(manifest, "https://d.example/22/a.ms"), nullptr);
}

TEST(TokenAnswerRule, KeepsSchemeAndHostUnlessAPublisherHostIsNamed) {
    const std::vector<std::wstring> hosts = SplitHostList(L" CDN.example.com ; mirror.example.net:8443,,");
    EXPECT_EQ(hosts, (std::vector<std::wstring>{L"cdn.example.com", L"mirror.example.net:8443"}));
    const struct {
        const wchar_t* address;
        const wchar_t* answer;
        const wchar_t* refusal;    // null: allowed
    } cases[] = {
        {L"https://d.example.com/a.msi", L"https://d.example.com/t/a.msi?token=1", nullptr},
        {L"https://d.example.com/a.msi", L"https://D.EXAMPLE.COM:443/other", nullptr},
        {L"http://d.example.com/a.msi", L"https://d.example.com/a.msi?t=1", nullptr},
        {L"https://d.example.com/a.msi", L"https://cdn.example.com/a.msi?t=1", nullptr},
        {L"https://d.example.com/a.msi", L"https://mirror.example.net:8443/a.msi", nullptr},
        {L"https://d.example.com/a.msi", L"http://d.example.com/a.msi?t=1", L"https would become http"},
        {L"https://d.example.com/a.msi", L"http://cdn.example.com/a.msi", L"https would become http"},
        {L"https://d.example.com/a.msi", L"https://evil.example.org/a.msi", L"to evil.example.org:443"},
        {L"https://d.example.com/a.msi", L"https://d.example.com:8443/a.msi", L"to d.example.com:8443"},
        {L"https://d.example.com/a.msi", L"https://mirror.example.net/a.msi", L"to mirror.example.net:443"},
        {L"https://d.example.com/a.msi", L"https://d.example.com.evil.org/a", L"to d.example.com.evil.org"},
        {L"https://d.example.com/a.msi", L"https://d.example.com@evil.org/a", L"names a user"},
        {L"https://d.example.com/a.msi", L"https://evil.org\\@d.example.com/a", L"backslash"},
        {L"https://d.example.com/a.msi", L"https://d.example.com/a b", L"blank or a control"},
        {L"https://d.example.com/a.msi", L"ftp://d.example.com/a", L"no http or https"},
        {L"https://d.example.com/a.msi", L"/relative/a.msi", L"no http or https"},
        {L"https://d.example.com/a.msi", L"https://d.example.com:x/a", L"port is not a number"},
        {L"https://[::1]:8443/a", L"https://[::1]:8443/t", nullptr},
        {L"https://[::1]:8443/a", L"https://[::2]:8443/t", L"to [::2]:8443"},
    };
    for (const auto& c : cases) {
        std::wstring reason;
        const bool allowed = TokenAnswerAllowed(c.address, c.answer, hosts, reason);
        EXPECT_EQ(allowed, c.refusal == nullptr) << std::string(c.answer, c.answer + wcslen(c.answer));
        if (c.refusal) {
            EXPECT_NE(reason.find(c.refusal), std::wstring::npos)
                << std::string(c.answer, c.answer + wcslen(c.answer)) << " -> " << std::string(reason.begin(), reason.end());
        }
    }
}
