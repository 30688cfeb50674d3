#include "stubframework/core/PackageCache.h"

#include "StubCore/StubApplication.h"
#include "stubframework/core/AppConfig.h"
#include "stubframework/core/VerifiedFile.h"
#include "stubframework/utils/Ground.h"
#include "stubframework/utils/Paths.h"

#include <mutex>

namespace stubframework { namespace core {

namespace {

std::mutex g_lock;
std::wstring g_testFolder;

// One plain path component: the cache's folder and file names come from settings and pages.
bool IsPlainName(const std::wstring& name) {
    return !name.empty() && name != L"." && name != L".." && name.find_first_of(L"\\/:*?\"<>|") == std::wstring::npos;
}

} // namespace

std::wstring PackageCacheFolder(StubApplication& app) {
    {
        std::lock_guard<std::mutex> hold(g_lock);
        if (!g_testFolder.empty()) return g_testFolder;
    }
    const std::wstring product = app.Config().ProductId();
    if (!IsPlainName(product)) {
        WriteErrorLog(&app, L"No package cache for the product id %s", product.c_str());
        return std::wstring();
    }
    return utils::GroundKeptFolder(L"Cache\\" + product);
}

std::wstring CachedPathOf(StubApplication& app, const std::wstring& pagePath) {
    const std::wstring name = utils::FileNameOf(pagePath);
    if (!IsPlainName(name)) return std::wstring();
    const std::wstring folder = PackageCacheFolder(app);
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
