// stubtool meta / verify / download / check-server: the download server's side of the
// downloader library, for publishers and support.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "downloader/Downloader.h"
#include "downloader/Object.h"
#include "downloader/Ref.h"
#include "stubframework/core/ReleaseManifest.h"
#include "stubframework/core/ReportDocuments.h"
#include "stubframework/utils/Ecdsa.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/SignatureFormat.h"
#include "stubframework/utils/WideFormat.h"
#include "tools/stubtool/Commands.h"
#include "tools/stubtool/Console.h"

namespace stubtool {

namespace {

using downloader::Ref;
using downloader::details::Object;
using stubframework::utils::FormatWide;
using stubframework::utils::ScopedFileHandle;
using stubframework::utils::ScopedHandle;

// "-v" anywhere among the arguments turns on the library's own log on stderr.
bool TakeVerbose(Arguments& arguments) {
    bool verbose = false;
    for (auto it = arguments.begin(); it != arguments.end();) {
        if (*it == L"-v") {
            verbose = true;
            it = arguments.erase(it);
        } else {
            ++it;
        }
    }
    return verbose;
}

// "--receive-timeout=MS" sets how long a request may wait for data; false for a bad value.
bool TakeReceiveTimeout(Arguments& arguments) {
    const std::wstring prefix = L"--receive-timeout=";
    for (auto it = arguments.begin(); it != arguments.end();) {
        if (it->compare(0, prefix.size(), prefix) != 0) {
            ++it;
            continue;
        }
        const std::wstring text = it->substr(prefix.size());
        wchar_t* end = nullptr;
        const unsigned long ms = std::wcstoul(text.c_str(), &end, 10);
        if (text.empty() || *end != L'\0' || ms == 0 || ms > 0x7FFFFFFF) return false;
        downloader::SetReceiveTimeout(static_cast<DWORD>(ms));
        it = arguments.erase(it);
    }
    return true;
}

class ConsoleLogger : public downloader::ILogger {
public:
    void Log(const wchar_t* where, const wchar_t* format, ...) override {
        va_list args;
        va_start(args, format);
        const std::wstring message = stubframework::utils::FormatWideV(format, args);
        va_end(args);
        std::fputs((stubframework::utils::ToAnsi(FormatWide(L"%s> %s", where, message.c_str())) + "\n").c_str(),
                   stderr);
    }
};

Ref<downloader::ILogger> MakeLogger(bool verbose) {
    if (verbose) return Ref<downloader::ILogger>(downloader::details::New<ConsoleLogger>());
    return Ref<downloader::ILogger>(downloader::CreateNullLogger());
}


class BlockCollector : public downloader::IHashCallback {
public:
    explicit BlockCollector(HANDLE done) : done_(done) {}
    void OnHash(const downloader::BlockHash& digest) override { hashes.push_back(digest); }
    void OnComplete(downloader::HashResult r) override {
        result = r;
        ::SetEvent(done_);
    }
    std::vector<downloader::BlockHash> hashes;
    downloader::HashResult result = downloader::HashFailed;
private:
    HANDLE done_;
};

class ProgressPrinter : public downloader::IDownloadCallback {
public:
    explicit ProgressPrinter(HANDLE done) : done_(done) {}
    void OnProgress(int64_t current, int64_t total) override {
        const int percent = total > 0 ? static_cast<int>(current * 100 / total) : 100;
        if (percent == lastPercent_) return;
        lastPercent_ = percent;
        PrintLine(FormatWide(L"progress %lld/%lld (%d%%)", current, total, percent));
    }
    void OnComplete(long hr) override {
        result = hr;
        ::SetEvent(done_);
    }
    long result = E_FAIL;
private:
    HANDLE done_;
    int lastPercent_ = -1;
};

// One request, waited for: the header it got and how many body bytes came.
class ProbeRecorder : public downloader::IHttpCallback {
public:
    explicit ProbeRecorder(HANDLE done) : done_(done) {}
    void OnHttpHeader(const downloader::HttpHeader& h) override {
        header = h;
        gotHeader = true;
        if (stopAfterHeader && task) task->Cancel();
    }
    void OnData(const downloader::Buffer& buffer) override { received += buffer.size; }
    void OnComplete(long hr) override {
        result = hr;
        ::SetEvent(done_);
    }
    downloader::HttpHeader header;
    bool gotHeader = false;
    bool stopAfterHeader = false;
    int64_t received = 0;
    long result = E_FAIL;
    downloader::ITask* task = nullptr;
private:
    HANDLE done_;
};

struct Probe {
    downloader::HttpHeader header;
    bool gotHeader = false;
    int64_t received = 0;
    long result = E_FAIL;
};

Probe RunProbe(const std::wstring& url, const downloader::HttpRange& range, bool readBody, downloader::ILogger* logger) {
    Probe probe;
    ScopedHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const Ref<Object<ProbeRecorder>> recorder(done ? downloader::details::New<ProbeRecorder>(done.Get()) : nullptr);
    if (!recorder) return probe;
    const Ref<downloader::ITask> task(downloader::CreateHttpTask(url.c_str(), range, recorder.Get(), logger));
    if (task) {
        recorder->task = task.Get();
        recorder->stopAfterHeader = !readBody;
        task->Start();
        ::WaitForSingleObject(done.Get(), INFINITE);
        probe.header = recorder->header;
        probe.gotHeader = recorder->gotHeader;
        probe.received = recorder->received;
        probe.result = recorder->result;
    }
    return probe;
}

class Findings {
public:
    void Ok(const std::wstring& text) { PrintLine(L"ok:   " + text); }
    void Fail(const std::wstring& text) {
        PrintLine(L"FAIL: " + text);
        ++failures_;
    }
    void Check(bool good, const std::wstring& text, const std::wstring& detail) {
        if (good) Ok(text);
        else Fail(text + L" (" + detail + L")");
    }
    int Failures() const { return failures_; }
private:
    int failures_ = 0;
};

// "--key=PUBLIC" (repeatable): the keys the signatures are checked against; false when one
// cannot be read.
bool TakeKeys(Arguments& arguments, std::vector<std::vector<uint8_t>>& keys) {
    const std::wstring prefix = L"--key=";
    for (auto it = arguments.begin(); it != arguments.end();) {
        if (it->compare(0, prefix.size(), prefix) != 0) {
            ++it;
            continue;
        }
        std::vector<uint8_t> text, der;
        if (!ReadWholeFile(it->substr(prefix.size()), text) || !stubframework::utils::UnarmourPem(text, der)) {
            PrintError(FormatWide(L"cannot read key %s", it->substr(prefix.size()).c_str()));
            return false;
        }
        keys.push_back(der);
        it = arguments.erase(it);
    }
    return true;
}

// The signature published at sigUrl over bytes.
void CheckPublishedSignature(Findings& findings, const std::wstring& what, const std::vector<uint8_t>& bytes,
                             const std::wstring& sigUrl, const std::vector<std::vector<uint8_t>>& keys) {
    std::vector<uint8_t> signature;
    const bool found = downloader::DownloadToMemory(sigUrl.c_str(), signature);
    const stubframework::core::SignatureVerdict verdict = VerifyWithKeys(bytes, found ? &signature : nullptr, keys);
    findings.Check(verdict == stubframework::core::SignatureVerdict::Good, what + L" verifies with a publisher key",
                   stubframework::core::SignatureVerdictText(verdict));
}

// An installer list: its release manifest as the stub reads it, and every ".meta" it lists as
// the server serves it (the ".meta" binds its file's size and blocks in turn).
void CheckServedRelease(Findings& findings, const std::vector<uint8_t>& list) {
    stubframework::core::ReleaseManifest manifest;
    std::string error;
    if (!stubframework::core::ParseReleaseManifest(list.data(), list.size(), manifest, error)) {
        findings.Fail(L"the release manifest parses (" + stubframework::core::FromUtf8(error) + L")");
        return;
    }
    findings.Ok(FormatWide(L"release manifest: product %S, serial %llu, %Iu files", manifest.product.c_str(),
                           manifest.serial, manifest.files.size()));
    for (const stubframework::core::ReleaseFile& file : manifest.files) {
        const std::wstring url = stubframework::core::FromUtf8(file.url);
        if (url.size() < 5 || url.compare(url.size() - 5, 5, L".meta") != 0) continue;
        std::vector<uint8_t> served;
        stubframework::utils::Sha256Digest digest;
        const bool same = downloader::DownloadToMemory(url.c_str(), served) && served.size() == file.size &&
                          stubframework::utils::Sha256Of(served.data(), served.size(), digest) &&
                          std::equal(digest.begin(), digest.end(), file.sha256.begin());
        findings.Check(same, url + L" is the one the release manifest lists",
                       FormatWide(L"%Iu bytes served, %llu listed", served.size(), file.size));
    }
}

std::wstring Describe(const Probe& probe) {
    if (!probe.gotHeader) return FormatWide(L"no answer, 0x%08X", static_cast<unsigned>(probe.result));
    return FormatWide(L"status %d, offset %lld, size %lld, total %lld, ETag %S", probe.header.status,
                      probe.header.offset, probe.header.size, probe.header.total,
                      probe.header.etag.empty() ? "none" : probe.header.etag.c_str());
}

} // namespace

bool BuildMeta(HANDLE file, int64_t size, std::vector<uint8_t>& meta) {
    ScopedHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const Ref<Object<BlockCollector>> collector(done ? downloader::details::New<BlockCollector>(done.Get()) : nullptr);
    const Ref<downloader::ITask> task(collector ? downloader::CreateHashTask(file, collector.Get()) : nullptr);
    if (!task) return false;
    task->Start();
    ::WaitForSingleObject(done.Get(), INFINITE);
    if (collector->result != downloader::HashDone || collector->hashes.size() != downloader::BlockCount(size))
        return false;
    meta = downloader::SerializeDownloadMeta(size, collector->hashes);
    return true;
}

bool ReadWholeFile(const std::wstring& path, std::vector<uint8_t>& bytes) {
    return stubframework::utils::ReadFileBytes(path, 0x7FFFFFFF, bytes);
}

int RunMeta(const Arguments& arguments) {
    if (arguments.size() != 1) {
        PrintError(L"usage: stubtool meta FILE");
        return kExitUsage;
    }
    const std::wstring& path = arguments[0];
    ScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file || !::GetFileSizeEx(file.Get(), &size)) {
        PrintError(FormatWide(L"cannot open %s (error %lu)", path.c_str(), ::GetLastError()));
        return kExitFailed;
    }
    if (downloader::BlockCount(size.QuadPart) >= downloader::kMaxBlocks) {
        PrintError(FormatWide(L"%s is too large for a .meta file", path.c_str()));
        return kExitFailed;
    }
    std::vector<uint8_t> meta;
    if (!BuildMeta(file.Get(), size.QuadPart, meta)) {
        PrintError(FormatWide(L"reading %s failed", path.c_str()));
        return kExitFailed;
    }
    const std::wstring metaPath = path + L".meta";
    ScopedFileHandle out(::CreateFileW(metaPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!out || !::WriteFile(out.Get(), meta.data(), static_cast<DWORD>(meta.size()), &written, nullptr) ||
        written != meta.size()) {
        PrintError(FormatWide(L"cannot write %s (error %lu)", metaPath.c_str(), ::GetLastError()));
        out.Reset();
        ::DeleteFileW(metaPath.c_str());
        return kExitFailed;
    }
    PrintLine(FormatWide(L"%s: %lld bytes, %Iu blocks", metaPath.c_str(), size.QuadPart,
                         (meta.size() - 8) / 20));
    return kExitOk;
}

int RunVerify(const Arguments& arguments) {
    if (arguments.size() != 2) {
        PrintError(L"usage: stubtool verify FILE META");
        return kExitUsage;
    }
    std::vector<uint8_t> meta;
    if (!ReadWholeFile(arguments[1], meta)) {
        PrintError(FormatWide(L"cannot read %s", arguments[1].c_str()));
        return kExitFailed;
    }
    const downloader::FileCheck check = downloader::CheckFileWithMeta(arguments[0].c_str(), meta);
    switch (check.outcome) {
    case downloader::FileCheck::Match:
        PrintLine(FormatWide(L"match: %lld bytes", check.fileSize));
        return kExitOk;
    case downloader::FileCheck::BadMeta:
        PrintError(FormatWide(L"%s is not a valid .meta file", arguments[1].c_str()));
        return kExitFailed;
    case downloader::FileCheck::OpenFailed:
        PrintError(FormatWide(L"cannot open %s", arguments[0].c_str()));
        return kExitFailed;
    case downloader::FileCheck::ReadFailed:
        PrintError(FormatWide(L"reading %s failed", arguments[0].c_str()));
        return kExitFailed;
    case downloader::FileCheck::SizeDiffers:
        PrintLine(FormatWide(L"differs: size %lld, published %lld (the first %llu blocks match)", check.fileSize,
                             check.publishedSize, check.block));
        return kExitFailed;
    case downloader::FileCheck::BlockDiffers:
        PrintLine(FormatWide(L"differs: first at block %llu (offset %lld)", check.block,
                             static_cast<int64_t>(check.block) * downloader::kBlockSize));
        return kExitFailed;
    }
    return kExitFailed;
}

int RunDownload(const Arguments& given) {
    Arguments arguments = given;
    const bool verbose = TakeVerbose(arguments);
    if (!TakeReceiveTimeout(arguments) || arguments.size() != 2) {
        PrintError(L"usage: stubtool download [-v] [--receive-timeout=MS] URL PATH");
        return kExitUsage;
    }
    const std::wstring url = arguments[0];
    const std::wstring metaUrl = url + L".meta";
    ScopedHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const Ref<downloader::ILogger> logger = MakeLogger(verbose);
    const Ref<Object<ProgressPrinter>> printer(done ? downloader::details::New<ProgressPrinter>(done.Get()) : nullptr);
    const Ref<downloader::ITask> task(
        printer && logger ? downloader::CreateDownloadSimpleTask(url.c_str(), metaUrl.c_str(), arguments[1].c_str(),
                                                                 printer.Get(), logger.Get())
                          : nullptr);
    long result = E_OUTOFMEMORY;
    if (task) {
        task->Start();
        ::WaitForSingleObject(done.Get(), INFINITE);
        result = printer->result;
    }
    PrintLine(FormatWide(L"result 0x%08X", static_cast<unsigned>(result)));
    if (result < 0) {
        PrintError(FormatWide(L"download of %s failed with 0x%08X", url.c_str(), static_cast<unsigned>(result)));
        return kExitFailed;
    }
    return kExitOk;
}

int RunCheckServer(const Arguments& given) {
    Arguments arguments = given;
    const bool verbose = TakeVerbose(arguments);
    std::vector<std::vector<uint8_t>> keys;
    if (!TakeKeys(arguments, keys)) return kExitFailed;
    if (arguments.size() != 1) {
        PrintError(L"usage: stubtool check-server [-v] [--key=PUBLIC]... URL");
        return kExitUsage;
    }
    const std::wstring url = arguments[0];
    Findings findings;

    std::vector<uint8_t> metaBytes;
    downloader::DownloadMetaSimple meta;
    if (!downloader::DownloadToMemory((url + L".meta").c_str(), metaBytes)) {
        findings.Fail(L".meta is published (it could not be fetched with a 200 and a length)");
        return kExitFailed;
    }
    findings.Ok(FormatWide(L".meta is published (%Iu bytes)", metaBytes.size()));
    if (!downloader::CreateDownloadMetaSimple(metaBytes, &meta)) {
        findings.Fail(L".meta parses (8-byte size and one SHA-1 per MiB expected)");
        return kExitFailed;
    }
    findings.Ok(FormatWide(L".meta parses: %lld bytes in %Iu blocks", meta.fileSize, meta.hashes.size()));
    if (keys.empty() && !stubframework::core::SignaturesRequired()) {
        findings.Fail(L"signatures can be checked (no --key given and no key built in)");
    } else {
        if (keys.empty()) findings.Ok(L"signatures checked against the built-in keys " + stubframework::core::PublisherKeyIds());
        CheckPublishedSignature(findings, L".meta.sig", metaBytes, url + L".meta.sig", keys);
        // Plain downloads are checked whole; the file is fetched once more for that.
        std::vector<uint8_t> whole;
        if (meta.fileSize > (256 << 20)) {
            findings.Ok(L".sig not checked: the file is over 256 MiB");
        } else if (!downloader::DownloadToMemory(url.c_str(), whole)) {
            findings.Fail(L"the file can be fetched whole for its .sig");
        } else {
            CheckPublishedSignature(findings, L".sig", whole, url + L".sig", keys);
            if (stubframework::core::StartsWithManifest(whole.data(), whole.size())) CheckServedRelease(findings, whole);
        }
    }

    const Ref<downloader::ILogger> logger = MakeLogger(verbose);
    if (!logger) return kExitFailed;
    const Probe full = RunProbe(url, downloader::HttpRange(), false, logger.Get());
    findings.Check(full.gotHeader && full.header.status == 200, L"a plain GET is answered 200", Describe(full));
    findings.Check(full.gotHeader && full.header.total == meta.fileSize, L"its length matches the .meta size",
                   Describe(full));
    findings.Check(!full.header.etag.empty(), L"the 200 answer carries an ETag", Describe(full));

    if (meta.fileSize > 0) {
        downloader::HttpRange range;
        range.offset = meta.fileSize / 2;
        range.size = meta.fileSize - range.offset < 1000 ? meta.fileSize - range.offset : 1000;
        const Probe ranged = RunProbe(url, range, true, logger.Get());
        const std::wstring asked = FormatWide(L"bytes %lld-%lld/%lld", range.offset, range.offset + range.size - 1,
                                              meta.fileSize);
        findings.Check(ranged.gotHeader && ranged.header.status == 206 && ranged.header.offset == range.offset &&
                           ranged.header.size == range.size && ranged.header.total == meta.fileSize,
                       L"a ranged GET is answered 206 with Content-Range " + asked, Describe(ranged));
        findings.Check(ranged.result >= 0 && ranged.received == range.size,
                       L"the ranged body has exactly the requested length",
                       FormatWide(L"%lld bytes received, result 0x%08X", ranged.received,
                                  static_cast<unsigned>(ranged.result)));

        if (!full.header.etag.empty()) {
            range.etag = full.header.etag;
            const Probe same = RunProbe(url, range, false, logger.Get());
            findings.Check(same.gotHeader && same.header.status == 206,
                           L"If-Range with the current ETag keeps the range (206)", Describe(same));
            range.etag = "\"stubtool-outdated\"";
            const Probe stale = RunProbe(url, range, false, logger.Get());
            findings.Check(stale.gotHeader && stale.header.status == 200 && stale.header.total == meta.fileSize,
                           L"If-Range with another ETag answers the whole file (200)", Describe(stale));
        }
    } else {
        findings.Ok(L"empty file: no ranges to check");
    }

    if (findings.Failures() > 0) {
        PrintError(FormatWide(L"%d check(s) failed for %s", findings.Failures(), url.c_str()));
        return kExitFailed;
    }
    PrintLine(L"the server meets the download contract");
    return kExitOk;
}

} // namespace stubtool
