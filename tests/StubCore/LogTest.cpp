#include <gtest/gtest.h>
#include <windows.h>

#include "StubCore/LogFormat.h"
#include "StubCore/StubLog.h"
#include "stubframework/utils/Ground.h"
#include "stubframework/utils/Paths.h"
#include "tests/StubCore/LogCheck.h"
#include "tests/support/TempFolder.h"

using namespace stubframework;
using testsupport::TempFolder;

TEST(LogFormat, PrefixPadsMillisecondsWithBlanks) {
    EXPECT_EQ(FormatLogPrefix({2026, 12, 8, 14, 5, 9, 7}, LogDebug), "[20261208 14:05:09   7 DEBUG] ");
    EXPECT_EQ(FormatLogPrefix({2026, 1, 2, 3, 4, 5, 123}, LogError), "[20260102 03:04:05 123 ERROR] ");
    EXPECT_EQ(FormatLogPrefix({2026, 1, 2, 3, 4, 5, 45}, LogTrace), "[20260102 03:04:05  45 TRACE] ");
    EXPECT_EQ(FormatLogPrefix({2026, 1, 2, 3, 4, 5, 0}, LogNone), "[20260102 03:04:05   0 ] ");
    EXPECT_STREQ(LogLevelName(LogWarning), "WARNING");
    EXPECT_EQ(FormatLogFileName({2026, 3, 4, 5, 6, 7, 0}), L"installer_log_20260304050607.txt");
}

// Tokens travel in queries; error reports carry the log.
TEST(LogFormat, AddressesLoseTheirQueries) {
    const struct {
        const wchar_t* text;
        const wchar_t* logged;
    } cases[] = {
        {L"Download https://cdn.test/p.msi?token=abc&sig=1 finished to C:\\x?y", L"Download https://cdn.test/p.msi?... finished to C:\\x?y"},
        {L"\"HTTP://h.test/a#frag\" and http://h.test/b?t=1", L"\"HTTP://h.test/a?...\" and http://h.test/b?..."},
        {L"(https://h.test/?q) https://h.test/plain", L"(https://h.test/?...) https://h.test/plain"},
        {L"no address? none", L"no address? none"},
        {L"http:/not?an=address", L"http:/not?an=address"},
        {L"Refused for https://h.test/l.js.sig?t=1: missing", L"Refused for https://h.test/l.js.sig?...: missing"},
    };
    for (const auto& c : cases) EXPECT_EQ(WithoutUrlQueries(c.text), c.logged);
}

namespace {
// Points the process's temporary folder at a private one for the log.
class StubLogTest : public testing::Test {
protected:
    void SetUp() override {
        ::SetEnvironmentVariableW(L"TMP", temp_.Path().c_str());
        ::SetEnvironmentVariableW(L"TEMP", temp_.Path().c_str());
    }
    TempFolder temp_;
};
} // namespace

TEST_F(StubLogTest, WritesWholeLinesAndFlushesEach) {
    std::wstring path, folder;
    {
        StubLog log;
        path = log.FilePath();
        folder = log.Folder();
        ASSERT_FALSE(path.empty());
        // On the ground, never in the user's temporary folder.
        const std::wstring ground = utils::GroundBase();
        EXPECT_EQ(folder.compare(0, ground.size(), ground), 0);
        EXPECT_TRUE(utils::IsInGround(path));
        EXPECT_TRUE(IsLogFileName(utils::FileNameOf(path)));

        log.Debug(L"%s and %S: %d", L"wide", "narrow", 42);
        log.Error(L"Property %s: %s\n", L"osbits", L"32");
        log.Trace(L"cut \u4e2d here");
        log.Write(LogWarning, L"warned https://h.test/list?token=%s", L"secret");

        // Readable while still open: every line is flushed at once.
        std::vector<LogLine> lines;
        ASSERT_TRUE(ReadLogLines(path, lines));
        ASSERT_EQ(lines.size(), 5u);
        EXPECT_EQ(lines[0].level, "DEBUG");
        EXPECT_EQ(lines[0].message, "wide and narrow: 42");
        EXPECT_EQ(lines[1].level, "ERROR");
        EXPECT_EQ(lines[1].message, "Property osbits: 32");
        EXPECT_TRUE(lines[2].blank);          // the message's own "\n"
        EXPECT_EQ(lines[3].message, "cut ? here");
        EXPECT_EQ(lines[4].level, "WARNING");
        EXPECT_EQ(lines[4].message, "warned https://h.test/list?...");

        log.Close();
        log.Debug(L"after close");
        ASSERT_TRUE(ReadLogLines(path, lines));
        EXPECT_EQ(lines.size(), 5u);
    }
    EXPECT_FALSE(utils::PathExists(folder));
}

TEST_F(StubLogTest, SilentWithoutGround) {
    utils::SetGroundBaseForTesting(temp_.Path() + L"missing\\");
    {
        StubLog log;
        EXPECT_TRUE(log.FilePath().empty());
        log.Debug(L"nowhere");   // must simply do nothing
    }
    utils::SetGroundBaseForTesting(L"");
}
