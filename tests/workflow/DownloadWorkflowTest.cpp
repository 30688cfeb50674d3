// "download", "stopDownload" and "initDownloadSize" driven through the bridge against nginx and
// the fault server, with the test thread standing in for the page's UI thread.
#include "tests/workflow/WorkflowSupport.h"

#include "stubframework/core/DownloadWorkflow.h"
#include "stubframework/core/HtmlExternal.h"
#include "stubframework/core/PackageCache.h"
#include "stubframework/utils/FileHandles.h"
#include "stubframework/utils/Ground.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/UserRights.h"
#include "downloader/BlockDigest.h"
#include "tests/support/LinuxSide.h"

#include <set>

using namespace stubframework;
using namespace wftest;
using dltest::FaultLogLines;
using dltest::FaultUrl;
using dltest::NginxUrl;
using dltest::Tag;

namespace {

constexpr DWORD kQuickRetryMs = 1;

// A private copy of the 10 MiB package and its metadata, so its log lines are ours alone.
std::wstring PublishPackage(const std::wstring& name) {
    EXPECT_TRUE(::CopyFileW(dltest::ServerFile(L"pkg10.bin").c_str(), dltest::ServerFile(name).c_str(), FALSE));
    EXPECT_TRUE(::CopyFileW(dltest::ServerFile(L"pkg10.bin.meta").c_str(),
                            dltest::ServerFile(name + L".meta").c_str(), FALSE));
    EXPECT_TRUE(dltest::SignPublished(dltest::ServerFile(name)));
    return dltest::ServerFile(name);
}

size_t CountContaining(const std::vector<std::string>& lines, const std::string& text) {
    size_t count = 0;
    for (const auto& line : lines) count += line.find(text) != std::string::npos;
    return count;
}

class Download : public WorkflowTest {};

} // namespace

TEST_F(Download, ResumableIsByteIdenticalResumesFromTheBadBlockAndSkipsAMatchingFile) {
    const std::wstring name = Tag(L"wfpkg") + L".bin";
    const std::wstring published = PublishPackage(name);
    const std::wstring crc = CrcText(published);
    const std::wstring target = folder_ / L"package.bin";
    std::string expected, actual;
    ASSERT_TRUE(dltest::ReadWholeFile(published, expected));

    ASSERT_EQ(StartDownload(NginxUrl(name), target, crc, false, true), S_OK);
    ASSERT_TRUE(WaitForFinal());
    ExpectProgressThenFinal(0);
    EXPECT_GE(Reports().size(), 2u);
    ASSERT_TRUE(dltest::ReadWholeFile(target, actual));
    EXPECT_TRUE(actual == expected);
    EXPECT_EQ(Bridge().GetProperty(L"downloadTotal"), L"1");
    EXPECT_EQ(Bridge().GetProperty(L"downloadCurrent"), L"0");

    // A run that stopped half-way leaves bytes in the package cache that are wrong from some
    // block on; the user's copy is no part of it.
    actual[5 * 1048576 + 3] ^= 0x5A;
    ASSERT_TRUE(dltest::WriteWholeFile(core::CachedPathOf(App(), target), actual));
    ASSERT_TRUE(::DeleteFileW(target.c_str()));
    ASSERT_EQ(StartDownload(NginxUrl(name), target, crc, false, true), S_OK);
    ASSERT_TRUE(WaitForFinal());
    ExpectProgressThenFinal(0);
    ASSERT_TRUE(dltest::ReadWholeFile(target, actual));
    EXPECT_TRUE(actual == expected);
    const auto lines = dltest::AccessLogLines(dltest::Narrow(name) + "|");
    EXPECT_EQ(CountContaining(lines, "|bytes=5242880-"), 1u);

    // The file is there with the right CRC: no request at all, only the final report.
    const size_t requests = dltest::AccessLogLines(dltest::Narrow(name)).size();
    ASSERT_EQ(StartDownload(NginxUrl(name), target, crc, false, true), S_OK);
    ASSERT_TRUE(WaitForFinal());
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_EQ(Reports()[0].status, 0);
    EXPECT_EQ(dltest::AccessLogLines(dltest::Narrow(name)).size(), requests);

    ::DeleteFileW(published.c_str());
    ::DeleteFileW((published + L".meta").c_str());
}

namespace {

// An installer on the download server with its metadata and signatures; returns its name.
std::wstring PublishInstaller(std::string& bytes) {
    const std::wstring name = Tag(L"wfexe") + L".exe";
    EXPECT_TRUE(dltest::ReadWholeFile(TANDORA_EXIT_WITH, bytes));
    EXPECT_LT(bytes.size(), static_cast<size_t>(downloader::kBlockSize));
    downloader::BlockHash hash;
    EXPECT_TRUE(downloader::BlockDigest().Digest(reinterpret_cast<const uint8_t*>(bytes.data()),
                                                 static_cast<DWORD>(bytes.size()), hash));
    const std::vector<uint8_t> meta = downloader::SerializeDownloadMeta(static_cast<int64_t>(bytes.size()), {hash});
    EXPECT_TRUE(dltest::WriteWholeFile(dltest::ServerFile(name), bytes));
    EXPECT_TRUE(dltest::WriteWholeFile(dltest::ServerFile(name + L".meta"), std::string(meta.begin(), meta.end())));
    EXPECT_TRUE(dltest::SignPublished(dltest::ServerFile(name)));
    return name;
}

std::set<std::wstring> Names(const std::wstring& folder) {
    std::vector<std::wstring> names;
    const utils::ScopedFileHandle handle = utils::OpenFolderNoFollow(folder);
    if (handle) utils::ListFolder(handle.Get(), names);
    return std::set<std::wstring>(names.begin(), names.end());
}

} // namespace

// The user's folder gets copies, never authority. A verified download leaves the file and its
// signed companions there and nothing else; what a later run finds there counts only once it is
// copied into the cache through its signature; an install resumed after a reboot runs the
// cache's own copy without downloading it again, whatever the user's folder holds by then; and
// where the user's rights cannot be had, a link in the folder's path refuses the copy instead
// of carrying it elsewhere.
TEST_F(Download, TheUsersFolderGetsCopiesNeverAuthority) {
    std::string bytes, actual;
    const std::wstring name = PublishInstaller(bytes);
    const std::string requested = "/" + dltest::Narrow(name) + "|";
    const std::wstring folder = folder_ / L"dl";
    const std::wstring target = folder + L"\\" + name;
    const std::wstring cached = core::CachedPathOf(App(), target);
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    const auto download = [&] {
        return StartDownload(NginxUrl(name), target, L"", false, true) == S_OK && WaitForFinal() ? Reports().back().status : -1;
    };

    ASSERT_EQ(download(), 0);
    ASSERT_TRUE(dltest::ReadWholeFile(target, actual));
    EXPECT_TRUE(actual == bytes);
    EXPECT_EQ(Names(folder), (std::set<std::wstring>{name, name + L".meta", name + L".meta.sig"}));
    EXPECT_EQ(dltest::AccessLogLines(requested).size(), 1u);

    // Another file of the same name in another folder has a cache place of its own: the first
    // one's verified bytes stay where they are.
    const std::wstring other = folder_ / (L"dl2\\" + name);
    ASSERT_TRUE(::CreateDirectoryW((folder_ / L"dl2").c_str(), nullptr));
    EXPECT_NE(core::CachedPathOf(App(), other), cached);
    EXPECT_EQ(core::CachedPathOf(App(), folder + L"/" + name), core::CachedPathOf(App(), folder + L"\\" + name));
    ASSERT_EQ(StartDownload(NginxUrl(L"pkg10.bin"), other, L"", false, true), S_OK);
    ASSERT_TRUE(WaitForFinal());
    ASSERT_EQ(Reports().back().status, 0);
    ASSERT_TRUE(dltest::ReadWholeFile(cached, actual));
    EXPECT_TRUE(actual == bytes);

    // A cache without the file takes the user's copy in through its signature, without a request;
    // a copy changed since is not taken, and the download repairs both.
    for (const bool changed : {false, true}) {
        SCOPED_TRACE(changed ? "changed copy" : "whole copy");
        ASSERT_TRUE(::DeleteFileW(cached.c_str()));
        if (changed) {
            ASSERT_TRUE(dltest::WriteWholeFile(target, bytes.substr(0, bytes.size() - 1) + "x"));
        }
        ASSERT_EQ(download(), 0);
        EXPECT_EQ(dltest::AccessLogLines(requested).size(), changed ? 2u : 1u);
        ASSERT_TRUE(dltest::ReadWholeFile(target, actual));
        EXPECT_TRUE(actual == bytes);
    }

    // After a reboot the user's copy is someone else's program: the cache's copy runs, and the
    // package is not fetched again.
    utils::StartupSwitches resumed;
    resumed.resumeMode = 2;
    Restart(resumed);
    ASSERT_TRUE(dltest::WriteWholeFile(target, "MZ not the published installer"));
    std::wstring marker;
    ASSERT_TRUE(utils::CreateGroundFolder(marker));
    const std::wstring markerFolder = marker;
    marker += L"ran.txt";
    EXPECT_EQ(Install(target, L"0 \"" + marker + L"\""), 0);
    ASSERT_TRUE(dltest::ReadWholeFile(marker, actual));
    const std::wstring ran(reinterpret_cast<const wchar_t*>(actual.data()), actual.size() / sizeof(wchar_t));
    EXPECT_EQ(ran.compare(0, cached.size() + 1, L"\"" + cached), 0) << dltest::Narrow(ran);
    EXPECT_EQ(dltest::AccessLogLines(requested).size(), 2u);
    utils::DeleteFolderTree(markerFolder);

    // Without the user's rights the copy goes by handle: a link in its path refuses it, and the
    // folder the link leads to stays untouched.
    const std::string unix = testsupport::UnixPath(folder_.Path());
    ASSERT_TRUE(::CreateDirectoryW((folder_ / L"victim").c_str(), nullptr));
    ASSERT_TRUE(testsupport::LinuxShell("ln -s '" + unix + "victim' '" + unix + "linked'"));
    utils::SetUserRightsUnavailableForTesting(true);
    StartDownload(NginxUrl(name), folder_ / (L"linked\\" + name), L"", false, true);
    const bool ended = WaitForFinal();
    utils::SetUserRightsUnavailableForTesting(false);
    ASSERT_TRUE(ended);
    EXPECT_EQ(Reports().back().status, 4);
    EXPECT_TRUE(Names(folder_ / L"victim").empty());
    ::DeleteFileW(dltest::ServerFile(name).c_str());
    ::DeleteFileW(dltest::ServerFile(name + L".meta").c_str());
}

TEST_F(Download, PlainModeAddsATimestampAndChecksTheCrc) {
    const std::wstring target = folder_ / L"plain.bin";
    const size_t before = FaultLogLines("/len500?timestamp=").size();
    ASSERT_EQ(StartDownload(FaultUrl(L"len500"), target, L"", false, false), S_OK);
    ASSERT_TRUE(WaitForFinal());
    ExpectProgressThenFinal(0);
    std::string bytes;
    ASSERT_TRUE(dltest::ReadWholeFile(target, bytes));
    EXPECT_TRUE(bytes == dltest::FaultBody(0, 500));
    EXPECT_EQ(FaultLogLines("/len500?timestamp=").size(), before + 1);
    const std::string log = app_->LogText();
    EXPECT_NE(log.find("EMDownload params 0, 0, , " + dltest::Narrow(target) + ", " + dltest::Narrow(FaultUrl(L"len500"))),
              std::string::npos);
    EXPECT_NE(log.find("EMDownload -- Finish"), std::string::npos);

    // A URL with a query gets "&"; a CRC that does not match the result gives 6.
    const std::wstring tag = Tag(L"crc");
    ASSERT_EQ(StartDownload(FaultUrl(L"len500?t=" + tag), target, L"12345", false, false), S_OK);
    ASSERT_TRUE(WaitForFinal());
    ExpectProgressThenFinal(6);
    EXPECT_EQ(FaultLogLines("/len500?t=" + dltest::Narrow(tag) + "&timestamp=").size(), 1u);
}

TEST_F(Download, PlainNotFoundEndsAtOnceWithoutRetry) {
    const std::wstring tag = Tag(L"nf");
    ASSERT_EQ(StartDownload(FaultUrl(L"status404?t=" + tag), folder_ / L"missing.bin", L"", false, false), S_OK);
    ASSERT_TRUE(WaitForFinal());
    EXPECT_EQ(Reports().back().status, 2);
    EXPECT_EQ(FaultLogLines(dltest::Narrow(tag)).size(), 1u);
}

TEST_F(Download, StopEndsEitherModeWithAbortAndNoFurtherAttempt) {
    for (const bool resumable : {true, false}) {
        SCOPED_TRACE(resumable ? "resumable" : "plain");
        const std::wstring tag = Tag(L"stop");
        ASSERT_EQ(StartDownload(FaultUrl(L"slowpkg/" + tag), folder_ / (tag + L".bin"), L"", false, resumable), S_OK);
        // Data arriving at all shows the previous stop was cleared when this download began.
        bool stopped = false;
        ASSERT_TRUE(WaitForFinal([&](const Report& report) {
            if (stopped || report.status != 10 || report.current <= 0) return;
            htmluitest::Args none;
            EXPECT_EQ(Call(L"stopDownload", none), S_OK);
            stopped = true;
        }));
        ASSERT_TRUE(stopped);
        ExpectProgressThenFinal(5);
        EXPECT_TRUE(Bridge().Stop());
        const auto lines = FaultLogLines("/slowpkg/" + dltest::Narrow(tag));
        EXPECT_EQ(CountContaining(lines, ".meta|"), resumable ? 1u : 0u);
        EXPECT_EQ(lines.size(), resumable ? 2u : 1u);
    }
}

TEST_F(Download, InitDownloadSizeKeepsTheAnnouncedSizeAndNoFile) {
    const std::wstring tag = Tag(L"size");
    const std::wstring target = folder_ / L"probe.bin";
    htmluitest::Args args;
    args.Text(FaultUrl(L"slowpkg/" + tag).c_str()).Text(target.c_str()).Bool(false);
    ASSERT_EQ(Call(L"initDownloadSize", args), S_OK);
    EXPECT_EQ(Bridge().GetProperty(L"downloadTotal"), L"1000000");
    EXPECT_FALSE(utils::PathExists(target + L".temp"));
    EXPECT_FALSE(utils::PathExists(target));
    EXPECT_FALSE(Bridge().SizeProbe());
    EXPECT_EQ(FaultLogLines(dltest::Narrow(tag)).size(), 1u);

    htmluitest::Args wrong;
    wrong.Text(L"http://127.0.0.1/").Text(target.c_str());
    EXPECT_EQ(Call(L"initDownloadSize", wrong), DISP_E_BADPARAMCOUNT);
}

TEST_F(Download, BadArgumentsStartNothing) {
    function_ = htmluitest::Adopt(new htmluitest::RecordingFunction);
    htmluitest::Args args;   // isResume as a number
    args.Text(FaultUrl(L"len500").c_str()).Text((folder_ / L"never.bin").c_str()).Text(L"").Bool(false).Number(1)
        .Function(function_.Get());
    EXPECT_EQ(Call(L"download", args), DISP_E_TYPEMISMATCH);
    EXPECT_NE(app_->LogText().find("CheckParamTypes -- DISP_E_TYPEMISMATCH -- 1 3 11"), std::string::npos);
    // Nothing holds the function for a worker.
    EXPECT_EQ(function_->References(), 2);   // ours and the argument's
}

// The retries are checked on the routine itself, with short pauses between attempts.
TEST_F(Download, PlainAttemptsThatBringDataDoNotUseUpTheBudget) {
    const std::wstring tag = Tag(L"flaky");
    const ResultCode code = core::DownloadWithRetry(App(), FaultUrl(L"flaky/" + tag), folder_ / L"flaky.bin", false,
                                                    false, kQuickRetryMs);
    EXPECT_TRUE(code == Failure || code == UnknowError) << code;
    // Twelve short answers, each followed by a fresh budget, then ten answers without data.
    EXPECT_EQ(FaultLogLines("/flaky/" + dltest::Narrow(tag)).size(), 22u);
}

TEST_F(Download, ResumableAttemptsRunOutWithFailure) {
    const std::wstring name = Tag(L"absent") + L".bin";
    EXPECT_EQ(core::DownloadWithRetry(App(), NginxUrl(name), folder_ / L"absent.bin", false, true, kQuickRetryMs),
              Failure);
    EXPECT_EQ(dltest::AccessLogLines(dltest::Narrow(name) + ".meta").size(), 10u);
}

// The whole file's signature in plain mode travels the same network as the file: a passing fault
// is asked again, and one far longer than a signature is refused while it is read, not fetched whole.
TEST_F(Download, PlainSignatureFaultsAreRetriedOrRefusedAsTheyCome) {
    const struct {
        const char* fault;
        int times;
        ResultCode code;
        std::vector<std::string> outcomes;   // of the signature requests, in order
    } cases[] = {
        {"sigreset", 2, NoError, {"reset", "reset", "served"}},
        {"sighuge", 0, Md5Error, {"cut"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        const std::wstring tag = Tag(L"wf-sig");
        const std::string path = std::string("/m/") + c.fault + "/" + std::to_string(c.times) + "/" +
                                 dltest::Narrow(tag) + "/pkg.bin";
        const std::wstring target = folder_ / (tag + L".bin");
        EXPECT_EQ(core::DownloadWithRetry(App(), FaultUrl(std::wstring(path.begin() + 1, path.end())), target, false,
                                          false, kQuickRetryMs),
                  c.code);
        EXPECT_EQ(utils::PathExists(target), c.code == NoError);
        // The server notes each signature answer once it has ended.
        std::vector<std::string> outcomes;
        for (int wait = 0; wait < 200; ++wait) {
            const auto lines = FaultLogLines(path + ".sig|sig|");
            outcomes.clear();
            for (const auto& line : lines) outcomes.push_back(line.substr(line.rfind('|') + 1));
            if (outcomes.size() >= c.outcomes.size()) break;
            ::Sleep(50);
        }
        EXPECT_EQ(outcomes, c.outcomes);
    }
}
