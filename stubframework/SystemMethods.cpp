// The rows that answer questions about the machine and its files: system version
// and fitness, languages, well-known folders, disk space, file existence, size, checksum and
// version; createDirectory and getTempPath also create folders. getFileVersionEx and
// getSystemFolder(Ex) belong to the product's own table (MyExternalMethods).
#include "stubframework/ExternalMethods.h"
#include "stubframework/MyExternalMethods.h"
#include "StubCore/StubApplication.h"
#include "stubframework/core/AppConfig.h"
#include "stubframework/core/LanguageTable.h"
#include "stubframework/core/OsRequirement.h"
#include "stubframework/core/ResumeCopy.h"
#include "stubframework/utils/CommandLine.h"
#include "stubframework/utils/CommandLineArgs.h"
#include "stubframework/utils/FileCrc.h"
#include "stubframework/utils/FileVersion.h"
#include "stubframework/utils/SystemQueries.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <vector>

namespace stubframework {

namespace {
const WORD kMethodGet = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
const VARTYPE kOneText[] = {VT_BSTR};
const VARTYPE kTwoTexts[] = {VT_BSTR, VT_BSTR};

// Flags, count and types of a row whose arguments are all text.
HRESULT CheckTextRow(ExternalMethods& methods, WORD flags, WORD expected, DISPPARAMS* params, UINT count) {
    HRESULT hr = ExternalMethods::CheckFlagsAndCount(flags, expected, params, count);
    if (SUCCEEDED(hr) && count > 0) hr = methods.CheckParamTypes(params, count == 1 ? kOneText : kTwoTexts, count);
    return hr;
}
} // namespace

// checkOS(minOS S, minBits S) -> B
HRESULT ExternalMethods::CheckOS(WORD flags, DISPPARAMS* params, VARIANT* result) {
    WriteDebugLog(app_, L"EMCheckOS");
    const HRESULT hr = CheckTextRow(*this, flags, kMethodGet, params, 2);
    if (FAILED(hr) || !result) return hr;

    const std::wstring minBits = TextArg(params, 0);
    const std::wstring minOS = TextArg(params, 1);
    bool valid = false;
    if (utils::EqualsNoCase(minBits, L"x64") && utils::EqualsNoCase(app_->Config().Architecture(), L"x86")) {
        utils::ScopedLock lock(lock_);
        app_->Config().SetProperty(L"OSBitNotSupport", L"true");
    } else {
        utils::SystemVersion system;
        valid = utils::ReadTrueSystemVersion(system) &&
                core::OsMeetsRequirement(core::RequiredOsVersion(minOS), {system.major, system.minor});
    }
    SetBoolResult(result, valid);
    WriteDebugLog(app_, L"EMCheckOS Result : %s", valid ? L"OS valid" : L"OS invalid");
    return S_OK;
}

// getOSVersion() -> S
HRESULT ExternalMethods::GetOSVersion(WORD flags, DISPPARAMS* params, VARIANT* result) {
    const HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD, params, 0);
    if (FAILED(hr) || !result) return hr;
    DWORD major = 0, minor = 0;
    std::wstring text;
    if (utils::ReadReportedSystemVersion(major, minor))
        text = utils::DecimalText(major) + L"." + utils::DecimalText(minor);
    SetTextResult(result, text);
    return S_OK;
}

// getOSLang() -> I
HRESULT ExternalMethods::GetOSLang(WORD flags, DISPPARAMS* params, VARIANT* result) {
    const HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD, params, 0);
    if (FAILED(hr) || !result) return hr;
    SetNumberResult(result, core::LanguageIdFromWindowsId(::GetUserDefaultUILanguage()));
    return S_OK;
}

// getLanguageByID(lcid I) -> I
HRESULT ExternalMethods::GetLanguageByID(WORD flags, DISPPARAMS* params, VARIANT* result) {
    static const VARTYPE kTypes[] = {VT_I4};
    HRESULT hr = CheckArguments(flags, kMethodGet, params, kTypes);
    if (FAILED(hr) || !result) return hr;
    const unsigned windowsId = static_cast<unsigned>(V_I4(&params->rgvarg[0])) & 0xFFFF;
    SetNumberResult(result, core::LanguageIdFromWindowsId(windowsId));
    return S_OK;
}

// getParsedInstallLanguage(code S) -> I
HRESULT ExternalMethods::GetParsedInstallLanguage(WORD flags, DISPPARAMS* params, VARIANT* result) {
    const HRESULT hr = CheckTextRow(*this, flags, kMethodGet, params, 1);
    if (FAILED(hr) || !result) return hr;
    SetNumberResult(result, core::LanguageIdFromCode(TextArg(params, 0)));
    return S_OK;
}

// getDiskAvailableSpace(path S) -> S
HRESULT ExternalMethods::GetDiskAvailableSpace(WORD flags, DISPPARAMS* params, VARIANT* result) {
    WriteDebugLog(app_, L"EMGetDiskAvailableSpace");
    const HRESULT hr = CheckTextRow(*this, flags, kMethodGet, params, 1);
    if (FAILED(hr) || !result) return hr;
    const std::wstring path = TextArg(params, 0);
    ULARGE_INTEGER available = {};
    if (!::GetDiskFreeSpaceExW(path.c_str(), &available, nullptr, nullptr)) available.QuadPart = 0;
    SetTextResult(result, utils::DecimalText(available.QuadPart));
    WriteDebugLog(app_, L"EMGetDiskAvailableSpace args: %s, Result", path.c_str());
    return S_OK;
}

// isFileExists(path S) -> B
HRESULT ExternalMethods::IsFileExists(WORD flags, DISPPARAMS* params, VARIANT* result) {
    const HRESULT hr = CheckTextRow(*this, flags, kMethodGet, params, 1);
    if (FAILED(hr) || !result) return hr;
    const std::wstring path = TextArg(params, 0);
    const bool exists = ::PathFileExistsW(path.c_str()) != FALSE;
    SetBoolResult(result, exists);
    WriteDebugLog(app_, L"args: %s, Result: %s", path.c_str(), exists ? L"exist" : L"not exist");
    return S_OK;
}

// createDirectory(path S) -> B: every missing folder of the path; an existing one is false.
HRESULT ExternalMethods::CreateFolderTree(WORD flags, DISPPARAMS* params, VARIANT* result) {
    const HRESULT hr = CheckTextRow(*this, flags, kMethodGet, params, 1);
    if (FAILED(hr) || !result) return hr;
    const std::wstring path = TextArg(params, 0);
    SetBoolResult(result, ::SHCreateDirectoryExW(window_, path.c_str(), nullptr) == ERROR_SUCCESS);
    return S_OK;
}

// getFileSize(path S) -> S
HRESULT ExternalMethods::GetFileSizeText(WORD flags, DISPPARAMS* params, VARIANT* result) {
    WriteDebugLog(app_, L"EMGetFileSize");
    const HRESULT hr = CheckTextRow(*this, flags, kMethodGet, params, 1);
    if (FAILED(hr) || !result) return hr;
    ULONGLONG size = 0;
    if (!utils::ReadFileSize64(TextArg(params, 0), size)) size = 0;
    const std::wstring text = utils::DecimalText(size);
    SetTextResult(result, text);
    WriteDebugLog(app_, L"EMGetFileSize %s", text.c_str());
    return S_OK;
}

// getCrc(path S) -> S
HRESULT ExternalMethods::GetCrc(WORD flags, DISPPARAMS* params, VARIANT* result) {
    WriteDebugLog(app_, L"EMGetCRC");
    const HRESULT hr = CheckTextRow(*this, flags, kMethodGet, params, 1);
    if (FAILED(hr) || !result) return hr;
    const std::wstring path = TextArg(params, 0);
    // A file that cannot be read whole has no CRC worth comparing: "0", as for a missing one.
    unsigned long crc = 0;
    if (!utils::FileCrc32(path, crc)) crc = 0;
    const std::wstring text = utils::DecimalText(crc);
    SetTextResult(result, text);
    WriteDebugLog(app_, L"EMGetCRC args %s, Result %s", path.c_str(), text.c_str());
    return S_OK;
}

// getFileVersion(extension S, path S) -> S
HRESULT ExternalMethods::GetFileVersion(WORD flags, DISPPARAMS* params, VARIANT* result) {
    return FileVersionRow(flags, params, result, false);
}

HRESULT ExternalMethods::FileVersionRow(WORD flags, DISPPARAMS* params, VARIANT* result, bool nativeFileSystem) {
    WriteDebugLog(app_, L"EMGetMSIFileVersion");
    const HRESULT hr = CheckTextRow(*this, flags, kMethodGet, params, 2);
    if (FAILED(hr) || !result) return hr;
    const std::wstring path = TextArg(params, 0);
    const std::wstring extension = TextArg(params, 1);
    // On 64-bit Windows a path below the system folder then names the native file.
    void* redirection = nullptr;
    const bool redirectionOff = nativeFileSystem && ::Wow64DisableWow64FsRedirection(&redirection);
    const std::wstring version = utils::PackageFileVersion(extension, path);
    if (redirectionOff) ::Wow64RevertWow64FsRedirection(redirection);
    SetTextResult(result, version);
    WriteDebugLog(app_, L"EMGetMSIFileVersion args %s, Result %s", path.c_str(), version.c_str());
    return S_OK;
}

// getCurrentPath() -> S: the folder of the file the user started, else of this executable.
HRESULT ExternalMethods::GetCurrentPath(WORD flags, DISPPARAMS* params, VARIANT* result) {
    WriteDebugLog(app_, L"EMGetCurrentPath");
    const HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD, params, 0);
    if (FAILED(hr) || !result) return hr;
    // The folder of the file the user started: a run resumed after a reboot runs from a copy
    // elsewhere, and packages beside the installer are beside the started file.
    const utils::StartupSwitches& switches = app_->Switches();
    std::wstring folder =
        switches.hasShortcut ? switches.shortcut : utils::GetArgValue(utils::GetCommandLineArgs(), L"shortcut");
    if (!folder.empty()) folder = core::StartedFile(app_->Config().FrameworkKeyPath(), folder);
    const size_t slash = folder.rfind(L'\\');
    if (slash != std::wstring::npos) {
        folder.resize(slash);
    } else {
        wchar_t module[MAX_PATH] = {};
        const DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
        module[length < MAX_PATH ? length : MAX_PATH - 1] = L'\0';
        ::PathRemoveFileSpecW(module);
        folder = module;
    }
    SetTextResult(result, folder);
    WriteDebugLog(app_, L"EMGetCurrentPath %s", folder.c_str());
    return S_OK;
}

// getDesktopPath() -> S
HRESULT ExternalMethods::GetDesktopPath(WORD flags, DISPPARAMS* params, VARIANT* result) {
    WriteDebugLog(app_, L"EMGetDesktopPath");
    const HRESULT hr = CheckFlagsAndCount(flags, DISPATCH_METHOD, params, 0);
    if (FAILED(hr) || !result) return hr;
    wchar_t desktop[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop)))
        desktop[0] = L'\0';
    SetTextResult(result, desktop);
    WriteDebugLog(app_, L"EMGetDesktopPath %s", desktop);
    return S_OK;
}

// getTempPath(name S) -> S: the temporary folder's subfolder name (the product id when name is
// empty), created, with its trailing backslash.
HRESULT ExternalMethods::GetProductTempPath(WORD flags, DISPPARAMS* params, VARIANT* result) {
    WriteDebugLog(app_, L"EMGetTempPath");
    const HRESULT hr = CheckTextRow(*this, flags, kMethodGet, params, 1);
    if (FAILED(hr) || !result) return hr;
    std::wstring name = TextArg(params, 0);
    if (name.empty()) name = app_->Config().ProductId();

    std::wstring folder;
    wchar_t shortPath[MAX_PATH] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH, shortPath);
    if (length > 0 && length < MAX_PATH - 1) {
        // Room for the appended name and backslash as PathAppendW allows.
        std::vector<wchar_t> longPath(2 * MAX_PATH, L'\0');
        const DWORD longLength = ::GetLongPathNameW(shortPath, longPath.data(), 2 * MAX_PATH);
        if (longLength == 0 || longLength >= 2 * MAX_PATH) lstrcpynW(longPath.data(), shortPath, MAX_PATH);
        ::PathAppendW(longPath.data(), name.c_str());
        ::PathAddBackslashW(longPath.data());
        folder = longPath.data();
        ::CreateDirectoryW(folder.c_str(), nullptr);   // an existing folder is fine
    }
    SetTextResult(result, folder);
    WriteDebugLog(app_, L"EMGetTempPath %s", folder.c_str());
    return S_OK;
}

void ExternalMethods::RegisterSystemMethods() {
    RegisterMethod(L"isFileExists", &ExternalMethods::IsFileExists);
    RegisterMethod(L"createDirectory", &ExternalMethods::CreateFolderTree);
    RegisterMethod(L"getDiskAvailableSpace", &ExternalMethods::GetDiskAvailableSpace);
    RegisterMethod(L"getOSLang", &ExternalMethods::GetOSLang);
    RegisterMethod(L"getLanguageByID", &ExternalMethods::GetLanguageByID);
    RegisterMethod(L"getParsedInstallLanguage", &ExternalMethods::GetParsedInstallLanguage);
    RegisterMethod(L"getFileVersion", &ExternalMethods::GetFileVersion);
    RegisterMethod(L"getCrc", &ExternalMethods::GetCrc);
    RegisterMethod(L"getOSVersion", &ExternalMethods::GetOSVersion);
    RegisterMethod(L"getCurrentPath", &ExternalMethods::GetCurrentPath);
    RegisterMethod(L"getDesktopPath", &ExternalMethods::GetDesktopPath);
    RegisterMethod(L"getTempPath", &ExternalMethods::GetProductTempPath);
    RegisterMethod(L"getFileSize", &ExternalMethods::GetFileSizeText);
    RegisterMethod(L"checkOS", &ExternalMethods::CheckOS);
}

} // namespace stubframework

namespace myexternalmethods {

// getFileVersionEx(extension S, path S) -> S
HRESULT MyExternalMethods::GetFileVersionEx(WORD flags, DISPPARAMS* params, VARIANT* result) {
    return FileVersionRow(flags, params, result, true);
}

// getSystemFolder() and getSystemFolderEx(): any flags, any arguments.
HRESULT MyExternalMethods::GetSystemFolder(WORD, DISPPARAMS*, VARIANT* result) {
    if (!result) return S_OK;
    std::vector<wchar_t> folder(32768, L'\0');
    const UINT length = ::GetSystemDirectoryW(folder.data(), 32767);
    SetTextResult(result, std::wstring(folder.data(), length < 32768 ? length : 0));
    return S_OK;
}

} // namespace myexternalmethods
