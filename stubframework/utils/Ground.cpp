#include "stubframework/utils/Ground.h"
#include "stubframework/utils/FileHandles.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/PrivateFolder.h"

#include <vector>

namespace stubframework { namespace utils {

namespace {

const wchar_t kKeptRelative[] = L"Zarvo\\stubframework";

CriticalSection g_lock;
std::wstring g_base;
bool g_baseChosen = false;

bool RunsAsSystem() {
    ScopedHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return false;
    BYTE buffer[256];
    DWORD size = 0;
    if (!::GetTokenInformation(token.Get(), TokenUser, buffer, sizeof(buffer), &size)) return false;
    return ::IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, WinLocalSystemSid) != FALSE;
}

// The system's own temporary folder, given only to SYSTEM (systems that have the call).
std::wstring SystemTempFolder() {
    using GetTempPath2Function = DWORD(WINAPI*)(DWORD, LPWSTR);
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const auto call = kernel ? reinterpret_cast<GetTempPath2Function>(
                                   reinterpret_cast<void*>(::GetProcAddress(kernel, "GetTempPath2W")))
                             : nullptr;
    if (!call) return std::wstring();
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = call(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) return std::wstring();
    std::wstring folder(buffer, length);
    if (folder.back() != L'\\') folder += L'\\';
    // The folder is only the system's when it is closed to everybody else.
    return IsAdminOnlyFolder(folder) ? folder : std::wstring();
}

std::wstring ChooseBase() {
    if (!GroundIsPrivate()) {
        std::wstring temp;
        return GetTempDirectory(temp) ? temp : std::wstring();
    }
    if (RunsAsSystem()) {
        const std::wstring systemTemp = SystemTempFolder();
        if (!systemTemp.empty()) return systemTemp;
    }
    return PrepareCommonFolder(kKeptRelative);
}

} // namespace

bool GroundIsPrivate() { return IsProcessElevated(); }

std::wstring GroundBase() {
    ScopedLock hold(g_lock);
    // A base that could not be had is looked for again: the next caller may succeed.
    if (!g_baseChosen || g_base.empty()) {
        g_base = ChooseBase();
        g_baseChosen = true;
    }
    return g_base;
}

bool CreateGroundFolder(std::wstring& folder) {
    const std::wstring base = GroundBase();
    return !base.empty() && CreateUniqueSubfolder(base, folder);
}

std::wstring GroundKeptFolder(const std::wstring& relative) {
    if (relative.empty()) return std::wstring();
    return PrepareCommonFolder(std::wstring(kKeptRelative) + L"\\" + relative);
}

bool IsInGround(const std::wstring& path) {
    const std::wstring full = NormalizedPath(path);
    if (full.empty()) return false;
    std::wstring real;
    {
        ScopedFileHandle handle(::CreateFileW(full.c_str(), FILE_READ_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (handle) {
            real = FinalPathOf(handle.Get());
        } else {
            ScopedFileHandle parent(::CreateFileW(ParentFolder(full).c_str(), FILE_READ_ATTRIBUTES,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
            if (!parent) return false;
            real = FinalPathOf(parent.Get()) + L"\\" + FileNameOf(full);
        }
    }
    if (real.empty()) return false;
    std::vector<std::wstring> roots{GroundBase()};
    if (GroundIsPrivate()) roots.push_back(PrepareCommonFolder(kKeptRelative));
    for (const std::wstring& root : roots) {
        if (root.empty()) continue;
        ScopedFileHandle rootHandle = OpenFolderNoFollow(root);
        const std::wstring rootReal = rootHandle ? FinalPathOf(rootHandle.Get()) : std::wstring();
        if (rootReal.empty() || real.size() <= rootReal.size() + 1) continue;
        if (SamePath(real.substr(0, rootReal.size()), rootReal) && real[rootReal.size()] == L'\\') return true;
    }
    return false;
}

void SweepStaleGroundFolders(unsigned maxAgeDays) {
    // Only on the private ground: the user's temporary folder has its own cleaning.
    if (!GroundIsPrivate()) return;
    const std::wstring base = GroundBase();
    ScopedFileHandle folder = base.empty() ? ScopedFileHandle() : OpenFolderNoFollow(base);
    std::vector<std::wstring> names;
    if (!folder || !ListFolder(folder.Get(), names)) return;
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    const ULONGLONG limit = static_cast<ULONGLONG>(maxAgeDays) * 24 * 3600 * 10000000ull;
    for (const std::wstring& name : names) {
        // Fresh folders have the unpredictable 16-digit names; the kept ones have words.
        if (name.size() != 16 || name.find_first_not_of(L"0123456789abcdef") != std::wstring::npos) continue;
        ScopedFileHandle child = OpenInFolder(folder.Get(), name, FILE_LIST_DIRECTORY | DELETE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                              ChildDisposition::OpenExisting, true);
        FILE_BASIC_INFO basic = {};
        if (!child || !::GetFileInformationByHandleEx(child.Get(), FileBasicInfo, &basic, sizeof(basic))) continue;
        const ULONGLONG created = static_cast<ULONGLONG>(basic.CreationTime.QuadPart);
        const ULONGLONG current = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
        if (current < created || current - created < limit) continue;
        if (DeleteChildren(child.Get())) DeleteByHandle(child.Get());
    }
}

void SetGroundBaseForTesting(const std::wstring& base) {
    ScopedLock hold(g_lock);
    g_base = base;
    g_baseChosen = !base.empty();
}

}} // namespace stubframework::utils
