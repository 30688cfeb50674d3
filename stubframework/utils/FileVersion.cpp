#include "stubframework/utils/FileVersion.h"
#include "stubframework/utils/CommandLine.h"
#include "stubframework/utils/MsiApi.h"
#include "stubframework/utils/SystemLibrary.h"

#include <windows.h>
#include <cwchar>
#include <vector>

namespace stubframework { namespace utils {

namespace {
struct VersionApi {
    decltype(&::GetFileVersionInfoSizeW) GetFileVersionInfoSizeW = nullptr;
    decltype(&::GetFileVersionInfoW) GetFileVersionInfoW = nullptr;
    decltype(&::VerQueryValueW) VerQueryValueW = nullptr;
    bool ok = false;
    VersionApi() {
        const HMODULE m = LoadSystemLibrary(L"version.dll");
        if (!m) return;
        LoadProc(m, "GetFileVersionInfoSizeW", GetFileVersionInfoSizeW);
        LoadProc(m, "GetFileVersionInfoW", GetFileVersionInfoW);
        LoadProc(m, "VerQueryValueW", VerQueryValueW);
        ok = GetFileVersionInfoSizeW && GetFileVersionInfoW && VerQueryValueW;
    }
};

const VersionApi* GetVersionApi() {
    static const VersionApi loaded;
    return loaded.ok ? &loaded : nullptr;
}
} // namespace

std::wstring MsiProductVersion(const std::wstring& path) {
    const MsiApi* msi = GetMsiApi();
    if (!msi) return std::wstring();
    ScopedMsiHandle database, view, record;
    if (msi->MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, database.Receive()) != ERROR_SUCCESS) return L"";
    if (msi->MsiDatabaseOpenViewW(database.Get(),
                                  L"SELECT * FROM Property WHERE Property = 'ProductVersion'",
                                  view.Receive()) != ERROR_SUCCESS ||
        msi->MsiViewExecute(view.Get(), 0) != ERROR_SUCCESS ||
        msi->MsiViewFetch(view.Get(), record.Receive()) != ERROR_SUCCESS) {
        return std::wstring();
    }
    wchar_t version[256] = {};
    DWORD length = 256;
    if (msi->MsiRecordGetStringW(record.Get(), 2, version, &length) != ERROR_SUCCESS) return std::wstring();
    return std::wstring(version, length);
}

bool ReadExeFileVersion(const std::wstring& path, uint64_t& version) {
    const VersionApi* api = GetVersionApi();
    if (!api) return false;
    DWORD ignored = 0;
    const DWORD size = api->GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return false;
    std::vector<BYTE> block(size);
    if (!api->GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return false;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    if (!api->VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &infoSize) || !info ||
        infoSize < sizeof(VS_FIXEDFILEINFO)) {
        return false;
    }
    version = (static_cast<uint64_t>(info->dwFileVersionMS) << 32) | info->dwFileVersionLS;
    return true;
}

std::wstring FileVersionText(uint64_t version) {
    wchar_t text[64];
    std::swprintf(text, 64, L"%u.%u.%u.%u", static_cast<unsigned>(version >> 48),
                  static_cast<unsigned>((version >> 32) & 0xFFFF), static_cast<unsigned>((version >> 16) & 0xFFFF),
                  static_cast<unsigned>(version & 0xFFFF));
    return text;
}

std::wstring ExeFileVersion(const std::wstring& path) {
    uint64_t version = 0;
    return ReadExeFileVersion(path, version) ? FileVersionText(version) : std::wstring();
}

std::wstring PackageFileVersion(const std::wstring& extension, const std::wstring& path) {
    if (EqualsNoCase(extension, L".MSI")) return MsiProductVersion(path);
    if (EqualsNoCase(extension, L".EXE")) return ExeFileVersion(path);
    return std::wstring();
}

}} // namespace stubframework::utils
