#include "stubframework/core/PackageCache.h"

#include "StubCore/StubApplication.h"
#include "stubframework/core/AppConfig.h"
#include "stubframework/core/VerifiedFile.h"
#include "stubframework/utils/Ground.h"
#include "stubframework/utils/Paths.h"

#include <windows.h>

#include <cstdint>
#include <mutex>

namespace stubframework { namespace core {

namespace {

std::mutex g_lock;
std::wstring g_testFolder;

// One plain path component: the cache's folder and file names come from settings and pages.
bool IsPlainName(const std::wstring& name) {
    return !name.empty() && name != L"." && name != L".." && name.find_first_of(L"\\/:*?\"<>|") == std::wstring::npos;
}

// 16 hex digits of the FNV-1a hash of the path, case and separators aside.
std::wstring PathSlot(const std::wstring& path) {
    std::wstring key = path;
    for (wchar_t& c : key)
        if (c == L'/') c = L'\\';
    if (!key.empty()) ::CharLowerBuffW(&key[0], static_cast<DWORD>(key.size()));
    uint64_t hash = 14695981039346656037ull;
    for (const wchar_t c : key) {
        hash ^= static_cast<uint16_t>(c);
        hash *= 1099511628211ull;
    }
    wchar_t text[17] = {};
    for (int i = 15; i >= 0; --i, hash >>= 4) text[i] = L"0123456789abcdef"[hash & 15];
    return text;
}

} // namespace

namespace {

// The cache's folder, or its sub-folder (made when missing); empty when it cannot be had.
std::wstring CacheFolder(StubApplication& app, const std::wstring& sub) {
    std::wstring folder;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        folder = g_testFolder;
    }
    if (!folder.empty()) {
        if (sub.empty()) return folder;
        folder += sub + L"\\";
        return ::CreateDirectoryW(folder.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS ? folder
                                                                                                     : std::wstring();
    }
    const std::wstring product = app.Config().ProductId();
    if (!IsPlainName(product)) {
        WriteErrorLog(&app, L"No package cache for the product id %s", product.c_str());
        return std::wstring();
    }
    return utils::GroundKeptFolder(L"Cache\\" + product + (sub.empty() ? L"" : L"\\" + sub));
}

} // namespace

std::wstring PackageCacheFolder(StubApplication& app) { return CacheFolder(app, std::wstring()); }

std::wstring CachedPathOf(StubApplication& app, const std::wstring& pagePath) {
    const std::wstring name = utils::FileNameOf(pagePath);
    if (!IsPlainName(name)) return std::wstring();
    // One slot per page path: two components' files of one name (32Bit\1033.mst and
    // 64Bit\1033.mst) never take each other's place. The name itself stays, for installers that
    // read their own.
    const std::wstring folder = CacheFolder(app, PathSlot(pagePath));
    return folder.empty() ? std::wstring() : folder + name;
}

bool OpenCachedFile(StubApplication& app, const std::wstring& pagePath, std::wstring& cachePath,
                    utils::ScopedFileHandle& held) {
    held.Reset();
    cachePath = CachedPathOf(app, pagePath);
    if (cachePath.empty()) {
        WriteErrorLog(&app, L"No place in the package cache for %s", pagePath.c_str());
        return false;
    }
    if (utils::PathExists(cachePath) && OpenVerifiedFile(app, cachePath, held, false)) return true;
    return CopyInVerified(app, pagePath, cachePath, held);
}

void SetPackageCacheForTesting(const std::wstring& folder) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_testFolder = folder;
    if (!g_testFolder.empty() && g_testFolder.back() != L'\\') g_testFolder += L'\\';
}

}} // namespace stubframework::core
