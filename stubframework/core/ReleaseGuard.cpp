#include "stubframework/core/ReleaseGuard.h"

#include <algorithm>
#include <vector>

#include "StubCore/StubApplication.h"
#include "stubframework/core/AppConfig.h"
#include "stubframework/core/ContentSignature.h"
#include "stubframework/core/CreatedFolders.h"
#include "stubframework/core/ReleaseManifest.h"
#include "stubframework/core/ReportDocuments.h"
#include "stubframework/core/VerifiedFile.h"
#include "stubframework/utils/Ecdsa.h"
#include "stubframework/utils/FileHandles.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/Registry.h"
#include "stubframework/utils/WideFormat.h"

namespace stubframework { namespace core {

namespace {

constexpr uint64_t kMaxListBytes = 16u << 20;
const wchar_t kPagesList[] = L"config\\installerlistTDR22.js";

enum class ReleaseState { None, Known, Refused };

struct RunRelease {
    ReleaseState state = ReleaseState::None;
    ReleaseManifest manifest;
    std::wstring reason;    // why nothing is accepted, when Refused
};

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// The highest serial accepted for product; 0 when none is kept. False when the value is not a
// decimal number: only administrators write there, and what they wrote is not guessed at.
bool KeptSerial(StubApplication& app, const std::string& product, uint64_t& serial) {
    serial = 0;
    std::wstring text;
    if (!utils::ReadFrameworkValue(ReleaseSerialKey(app.Config().FrameworkKeyPath()), Wide(product), text)) return true;
    if (text.empty() || text.size() > 20 || text.find_first_not_of(L"0123456789") != std::wstring::npos) return false;
    serial = std::wcstoull(text.c_str(), nullptr, 10);
    return true;
}

bool ParseList(const std::vector<uint8_t>& bytes, ReleaseManifest& manifest, std::wstring& reason) {
    std::string error;
    if (!ParseReleaseManifest(bytes.data(), bytes.size(), manifest, error)) {
        reason = Wide(error);
        return false;
    }
    if (Wide(manifest.product) != AppConfig::ProductName()) {
        reason = L"the list is for product " + Wide(manifest.product) + L", not " + AppConfig::ProductName();
        return false;
    }
    return true;
}

// The release the pages' list names, as the stub must hold it to: a manifest that does not
// parse, or names another product or a release older than one accepted before, refuses all.
RunRelease LoadRunRelease(StubApplication& app) {
    RunRelease release;
    const std::wstring path = PagesListPath(app);
    std::vector<uint8_t> bytes;
    if (!utils::ReadFileBytes(path, kMaxListBytes, bytes)) {
        if (!utils::PathExists(path)) return release;
        release.state = ReleaseState::Refused;
        release.reason = L"the pages' list " + path + L" cannot be read";
        return release;
    }
    if (!StartsWithManifest(bytes.data(), bytes.size())) return release;
    release.state = ReleaseState::Refused;
    uint64_t kept = 0;
    if (!ParseList(bytes, release.manifest, release.reason)) {
        release.reason = L"the pages' list: " + release.reason;
    } else if (!KeptSerial(app, release.manifest.product, kept)) {
        release.reason = L"the kept release serial is not a number";
    } else if (release.manifest.serial < kept) {
        release.reason = utils::FormatWide(L"the pages' list is release %llu, older than the accepted %llu",
                                           release.manifest.serial, kept);
    } else {
        release.state = ReleaseState::Known;
    }
    return release;
}

bool SameContent(const ReleaseFile& file, uint64_t size, const utils::Sha256Digest& digest) {
    return file.size == size && std::equal(digest.begin(), digest.end(), file.sha256.begin());
}

// Size and SHA-256 of the open file, read from its start; the position is put back to 0.
bool MeasureFile(HANDLE file, uint64_t& size, utils::Sha256Digest& digest) {
    LARGE_INTEGER length = {}, start = {};
    const bool ok = ::GetFileSizeEx(file, &length) && utils::Sha256OfFile(file, digest);
    ::SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
    size = static_cast<uint64_t>(length.QuadPart);
    return ok;
}

void LogRefusal(StubApplication& app, const std::wstring& what, const std::wstring& reason) {
    WriteErrorLog(&app, L"Signature refused for %s: %s", what.c_str(), reason.c_str());
}

void RemoveCompanions(const std::wstring& path) {
    for (const std::wstring& companion : {SignaturePathOf(path), MetaPathOf(path), MetaSignaturePathOf(path)})
        ::DeleteFileW(companion.c_str());
}

} // namespace

std::wstring PagesListPath(StubApplication& app) { return app.Resources().Folder() + kPagesList; }

std::wstring ReleaseSerialKey(const std::wstring& frameworkKeyPath) {
    return utils::MachineTwinPath(frameworkKeyPath) + L"\\Release";
}

ResultCode AcceptReleaseList(StubApplication& app, const std::wstring& url, const std::wstring& path) {
    if (!SignaturesRequired()) return NoError;
    std::vector<uint8_t> bytes;
    ReleaseManifest manifest;
    std::wstring reason;
    uint64_t kept = 0;
    if (!utils::ReadFileBytes(path, kMaxListBytes, bytes)) {
        reason = L"the list cannot be read or is over 16 MiB";
    } else if (ParseList(bytes, manifest, reason)) {
        // The pages' list in place (the bundle's own, unless updated) is accepted already.
        const RunRelease current = LoadRunRelease(app);
        const uint64_t floor = current.state == ReleaseState::Known ? current.manifest.serial : 0;
        if (!KeptSerial(app, manifest.product, kept)) {
            reason = L"the kept release serial is not a number";
        } else if (manifest.serial < std::max(kept, floor)) {
            reason = utils::FormatWide(L"release %llu is older than the accepted %llu", manifest.serial,
                                       std::max(kept, floor));
        }
    }
    if (!reason.empty()) {
        LogRefusal(app, url, reason);
        ::DeleteFileW(path.c_str());
        RemoveCompanions(path);
        return Md5Error;
    }
    if (manifest.serial > kept &&
        !utils::WriteFrameworkValue(ReleaseSerialKey(app.Config().FrameworkKeyPath()), Wide(manifest.product),
                                    std::to_wstring(manifest.serial), false)) {
        // Without the serial kept a later run could be handed an older release.
        WriteErrorLog(&app, L"Keeping release serial %llu of %s failed", manifest.serial, url.c_str());
        ::DeleteFileW(path.c_str());
        RemoveCompanions(path);
        return Failure;
    }
    WriteDebugLog(&app, L"Release manifest accepted from %s: product %s, serial %llu, %u files", url.c_str(),
                  Wide(manifest.product).c_str(), manifest.serial, static_cast<unsigned>(manifest.files.size()));
    return NoError;
}

ResultCode AcceptReleaseFile(StubApplication& app, const std::wstring& url, const std::wstring& path) {
    if (!SignaturesRequired()) return NoError;
    const RunRelease release = LoadRunRelease(app);
    if (release.state == ReleaseState::None) {
        WriteDebugLog(&app, L"No release manifest in the pages' list: %s is checked by its signature only", url.c_str());
        return NoError;
    }
    std::wstring reason = release.reason;
    // Held with delete access: a refused file goes through the handle it was measured by.
    utils::ScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (release.state == ReleaseState::Known) {
        const ReleaseFile* listed = FindReleaseFile(release.manifest, ToUtf8(url));
        uint64_t size = 0;
        utils::Sha256Digest digest;
        if (!listed) {
            reason = L"not named by the release manifest";
        } else if (!file || !MeasureFile(file.Get(), size, digest)) {
            reason = utils::FormatWide(L"the downloaded file cannot be read (%lu)", ::GetLastError());
        } else if (!SameContent(*listed, size, digest)) {
            reason = utils::FormatWide(L"%llu bytes that differ from the %llu bytes and SHA-256 of the release manifest",
                                       size, listed->size);
        }
    }
    if (reason.empty()) return NoError;
    LogRefusal(app, url, reason);
    if (file) utils::DeleteByHandle(file.Get());
    RemoveCompanions(path);
    return Md5Error;
}

std::vector<std::wstring> ReleaseAddressesOf(StubApplication& app, const std::wstring& url) {
    const RunRelease release = LoadRunRelease(app);
    if (release.state != ReleaseState::Known) return {url};
    std::vector<std::wstring> addresses;
    for (const std::string& address : ReleaseAddresses(release.manifest, ToUtf8(url))) addresses.push_back(FromUtf8(address));
    return addresses;
}

downloader::MetaCheck WithReleaseCheck(StubApplication& app, const std::wstring& fileUrl, downloader::MetaCheck check) {
    return [&app, fileUrl, check](const uint8_t* data, size_t size) -> long {
        if (check) {
            const long hr = check(data, size);
            if (hr < 0) return hr;
        }
        if (!SignaturesRequired()) return S_OK;
        const RunRelease release = LoadRunRelease(app);
        if (release.state == ReleaseState::None) return S_OK;
        std::wstring reason = release.reason;
        if (release.state == ReleaseState::Known) {
            const ReleaseFile* file = FindReleaseFile(release.manifest, ToUtf8(fileUrl));
            const ReleaseFile* meta = FindReleaseFile(release.manifest, ToUtf8(fileUrl) + ".meta");
            utils::Sha256Digest digest;
            if (!meta && file) {
                reason = L"the release manifest lists the file but not its .meta";
            } else if (meta && (!utils::Sha256Of(data, size, digest) || !SameContent(*meta, size, digest))) {
                reason = utils::FormatWide(L"%Iu bytes that differ from the %llu bytes and SHA-256 of the release manifest",
                                           size, meta->size);
            }
        }
        if (reason.empty()) return S_OK;
        LogRefusal(app, fileUrl + L".meta", reason);
        return kSignatureRefusedHr;
    };
}

bool IsReleaseContent(StubApplication& app, HANDLE file, const std::wstring& what, bool logRefusal) {
    if (!SignaturesRequired()) return true;
    const RunRelease release = LoadRunRelease(app);
    if (release.state == ReleaseState::None) return true;
    std::wstring reason = release.reason;
    if (release.state == ReleaseState::Known) {
        uint64_t size = 0;
        utils::Sha256Digest digest;
        if (!MeasureFile(file, size, digest)) {
            reason = L"the file cannot be read";
        } else if (std::none_of(release.manifest.files.begin(), release.manifest.files.end(),
                                [&](const ReleaseFile& listed) { return SameContent(listed, size, digest); })) {
            reason = L"its bytes are no file of the release manifest";
        }
    }
    if (reason.empty()) return true;
    if (logRefusal) LogRefusal(app, what, reason);
    return false;
}

}} // namespace stubframework::core
