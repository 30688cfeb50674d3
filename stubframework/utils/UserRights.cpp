#include "stubframework/utils/UserRights.h"
#include "stubframework/utils/FileHandles.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/PrivateFolder.h"

#include <atomic>

namespace stubframework { namespace utils {

namespace {

std::atomic<bool> g_unavailable{false};

// An identification-level token impersonates without error and then opens nothing: the
// system folder, which every user may read, tells.
bool ImpersonationOpensFiles() {
    wchar_t system[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    ScopedFileHandle folder(::CreateFileW(system, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return folder.IsValid();
}

// The file at path itself, created when missing, opened no-follow in its real folder; refused
// when it has other names (a hard link to a file the user may not write).
ScopedFileHandle OpenTargetByHandle(const std::wstring& path) {
    const std::wstring full = NormalizedPath(path);
    ScopedFileHandle parent = OpenFolderNoFollow(ParentFolder(full));
    if (!parent) return parent;
    ScopedFileHandle file = OpenInFolder(parent.Get(), FileNameOf(full), GENERIC_WRITE | DELETE, 0,
                                         ChildDisposition::CreateOrOpen, false);
    BY_HANDLE_FILE_INFORMATION info = {};
    if (file && (!::GetFileInformationByHandle(file.Get(), &info) || info.nNumberOfLinks != 1)) {
        file.Reset();
        ::SetLastError(ERROR_CANT_ACCESS_FILE);
    }
    return file;
}

template <typename Fill>
bool WriteUser(const UserRights& rights, const std::wstring& path, Fill fill) {
    ScopedFileHandle file = rights.Held()
                                ? ScopedFileHandle(::CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                                                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr))
                                : OpenTargetByHandle(path);
    if (!file) return false;
    LARGE_INTEGER start = {};
    if (::SetFilePointerEx(file.Get(), start, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.Get()) && fill(file.Get()))
        return true;
    const DWORD error = ::GetLastError();
    DeleteByHandle(file.Get());
    ::SetLastError(error);
    return false;
}

} // namespace

UserRights::UserRights() {
    if (g_unavailable) return;
    ScopedHandle process;
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, process.Receive()) ||
        !::GetTokenInformation(process.Get(), TokenElevationType, &type, sizeof(type), &size))
        return;
    // UAC off, or not elevated: the process has no more rights than its user.
    if (type != TokenElevationTypeFull) {
        held_ = true;
        return;
    }
    TOKEN_LINKED_TOKEN linked = {};
    if (!::GetTokenInformation(process.Get(), TokenLinkedToken, &linked, sizeof(linked), &size)) return;
    const ScopedHandle limited(linked.LinkedToken);
    ScopedHandle impersonation;
    // A caller with the TCB privilege gets a token it can raise to impersonation level.
    ::DuplicateTokenEx(limited.Get(), TOKEN_IMPERSONATE | TOKEN_QUERY, nullptr, SecurityImpersonation,
                       TokenImpersonation, impersonation.Receive());
    if (!::SetThreadToken(nullptr, impersonation ? impersonation.Get() : limited.Get())) return;
    impersonating_ = true;
    held_ = ImpersonationOpensFiles();
    if (!held_) {
        ::RevertToSelf();
        impersonating_ = false;
    }
}

UserRights::~UserRights() {
    if (impersonating_) ::RevertToSelf();
}

void SetUserRightsUnavailableForTesting(bool unavailable) { g_unavailable = unavailable; }

bool WriteUserFile(const UserRights& rights, const std::wstring& path, HANDLE source) {
    return WriteUser(rights, path, [source](HANDLE file) { return CopyHandleToHandle(source, file); });
}

bool WriteUserFileBytes(const UserRights& rights, const std::wstring& path, const std::vector<uint8_t>& bytes) {
    return WriteUser(rights, path, [&bytes](HANDLE file) {
        DWORD written = 0;
        return bytes.empty() || (::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                                 written == bytes.size());
    });
}

bool RemoveUserFile(const UserRights& rights, const std::wstring& path) {
    ScopedFileHandle file;
    if (rights.Held()) {
        file.Reset(::CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    } else {
        const std::wstring full = NormalizedPath(path);
        ScopedFileHandle parent = OpenFolderNoFollow(ParentFolder(full));
        if (parent)
            file = OpenInFolder(parent.Get(), FileNameOf(full), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                ChildDisposition::OpenExisting, false);
    }
    return file && DeleteByHandle(file.Get());
}

}} // namespace stubframework::utils
