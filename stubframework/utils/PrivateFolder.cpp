#include "stubframework/utils/PrivateFolder.h"
#include "stubframework/utils/AdminOnly.h"
#include "stubframework/utils/FileHandles.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/Registry.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>
#include <ntsecapi.h>
#include <cwchar>
#include <vector>

namespace stubframework { namespace utils {

namespace {
std::wstring UpperCase(std::wstring text) {
    if (!text.empty()) ::CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

std::wstring ShellFolder(int csidl) {
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer))) return std::wstring();
    return buffer;
}

// The stub's own record of the folders it made, in the machine's part of the registry where a
// user cannot write: a folder is the one made when its volume and file id match. It vouches
// for a folder on systems whose descriptors read back other than they were set.
const wchar_t kMadeFoldersKey[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Zarvo\\stubframework\\MadeFolders";

std::wstring FolderIdentity(HANDLE folder) {
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!::GetFileInformationByHandle(folder, &info)) return std::wstring();
    wchar_t text[40];
    std::swprintf(text, 40, L"%08lx-%08lx-%08lx", static_cast<unsigned long>(info.dwVolumeSerialNumber),
                  static_cast<unsigned long>(info.nFileIndexHigh), static_cast<unsigned long>(info.nFileIndexLow));
    return text;
}

std::wstring RecordName(const std::wstring& path) { return UpperCase(NormalizedPath(path)); }

bool IsRecordedFolder(HANDLE folder, const std::wstring& path) {
    std::wstring recorded;
    const std::wstring identity = FolderIdentity(folder);
    return !identity.empty() && ReadFrameworkValue(kMadeFoldersKey, RecordName(path), recorded) && recorded == identity;
}

void RecordMadeFolder(const std::wstring& path) {
    ScopedFileHandle folder = OpenFolderNoFollow(path);
    const std::wstring identity = folder ? FolderIdentity(folder.Get()) : std::wstring();
    if (!identity.empty()) WriteFrameworkValue(kMadeFoldersKey, RecordName(path), identity, false);
}

// Sets the private descriptor again on a folder Administrators own (made by an older stub, it
// inherited rights for users to add files).
bool RestrictFolder(const std::wstring& path) {
    ScopedFileHandle folder = OpenFolderNoFollow(path, WRITE_DAC | READ_CONTROL);
    ScopedLocalMemory descriptor = PrivateFolderDescriptor(ProcessUserSid());
    if (!folder || !descriptor) return false;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!::GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted)) return false;
    return ::SetSecurityInfo(folder.Get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                             nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS &&
           IsAdminOnlyFolder(path);
}
} // namespace

bool IsProcessElevated() {
    ScopedHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    return ::GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof(elevation), &size) &&
           elevation.TokenIsElevated != 0;
}

std::wstring RandomName() {
    unsigned char bytes[8];
    if (!RtlGenRandom(bytes, sizeof(bytes))) return std::wstring();
    wchar_t text[17];
    for (int i = 0; i < 8; ++i) std::swprintf(text + 2 * i, 3, L"%02x", bytes[i]);
    return std::wstring(text, 16);
}

std::wstring ProcessUserSid() {
    ScopedHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return std::wstring();
    DWORD size = 0;
    ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return std::wstring();
    std::vector<BYTE> buffer(size);
    if (!::GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size)) return std::wstring();
    wchar_t* raw = nullptr;
    if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &raw)) return std::wstring();
    ScopedLocalMemory text(raw);
    return raw;
}

ScopedLocalMemory PrivateFolderDescriptor(const std::wstring& userSid) {
    // FA: full access; 0x1200a9: read, list and execute.
    std::wstring sddl = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
    if (!userSid.empty()) sddl += L"(A;OICI;0x1200a9;;;" + userSid + L")";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return ScopedLocalMemory();
    return ScopedLocalMemory(descriptor);
}

bool CreatePrivateFolder(const std::wstring& folder) {
    if (!IsProcessElevated()) return ::CreateDirectoryW(folder.c_str(), nullptr) != FALSE;
    ScopedLocalMemory descriptor = PrivateFolderDescriptor(ProcessUserSid());
    if (!descriptor) return false;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.Get(), FALSE};
    return ::CreateDirectoryW(folder.c_str(), &attributes) != FALSE;
}

namespace {
enum class FolderTrust { Missing, Untrusted, AdminOwnedOpen, AdminOnly };

FolderTrust JudgeFolder(const std::wstring& folder) {
    // Opened as it is: a link is looked at, not what it points to.
    ScopedFileHandle handle = OpenFolderNoFollow(folder, READ_CONTROL);
    if (!handle) return PathExists(folder) || ::GetLastError() == ERROR_CANT_ACCESS_FILE ? FolderTrust::Untrusted
                                                                                       : FolderTrust::Missing;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (::GetSecurityInfo(handle.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                          &owner, nullptr, nullptr, nullptr, &raw) != ERROR_SUCCESS)
        return FolderTrust::Untrusted;
    ScopedLocalMemory descriptor(raw);
    if (IsRecordedFolder(handle.Get(), folder)) return FolderTrust::AdminOnly;
    if (!IsAdministrationSid(owner)) return FolderTrust::Untrusted;
    return DescriptorIsAdminOnly(raw) ? FolderTrust::AdminOnly : FolderTrust::AdminOwnedOpen;
}
} // namespace

bool IsAdminOwnedFolder(const std::wstring& folder) {
    const FolderTrust trust = JudgeFolder(folder);
    return trust == FolderTrust::AdminOnly || trust == FolderTrust::AdminOwnedOpen;
}

bool IsAdminOnlyFolder(const std::wstring& folder) { return JudgeFolder(folder) == FolderTrust::AdminOnly; }

std::wstring PrepareCommonFolder(const std::wstring& commonRelative) {
    std::wstring path = ShellFolder(CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE);
    if (path.empty()) return std::wstring();
    const bool elevated = IsProcessElevated();
    size_t start = 0;
    while (start < commonRelative.size()) {
        size_t end = commonRelative.find(L'\\', start);
        if (end == std::wstring::npos) end = commonRelative.size();
        const std::wstring part = commonRelative.substr(start, end - start);
        start = end + 1;
        if (part.empty()) continue;
        if (part == L"." || part == L"..") return std::wstring();
        path += L"\\" + part;
        if (!elevated) {
            // Without elevation there is nothing to take over: a real folder of the user's will do.
            const DWORD attributes = ::GetFileAttributesW(path.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
                continue;
            if (attributes != INVALID_FILE_ATTRIBUTES) return std::wstring();
            if (!CreatePrivateFolder(path)) return std::wstring();
            continue;
        }
        switch (JudgeFolder(path)) {
        case FolderTrust::AdminOnly:
            continue;
        case FolderTrust::AdminOwnedOpen:
            if (RestrictFolder(path)) continue;
            // Not ours to fix: moved aside like a stranger's.
            [[fallthrough]];
        case FolderTrust::Untrusted:
            // Never entered: whatever it holds stays as it is, under another name.
            if (!RenameAside(path)) return std::wstring();
            break;
        case FolderTrust::Missing:
            break;
        }
        if (!CreatePrivateFolder(path)) return std::wstring();
        RecordMadeFolder(path);
    }
    return path + L"\\";
}

std::wstring NormalizedPath(const std::wstring& path) {
    if (path.empty()) return std::wstring();
    std::wstring slashed = path;
    for (wchar_t& c : slashed)
        if (c == L'/') c = L'\\';
    wchar_t buffer[1024] = {};
    const DWORD length = ::GetFullPathNameW(slashed.c_str(), 1024, buffer, nullptr);
    if (length == 0 || length >= 1024) return std::wstring();
    std::wstring full(buffer, length);
    while (full.size() > 1 && full.back() == L'\\') full.pop_back();
    return full;
}

bool IsProtectedFolder(const std::wstring& folder) {
    // Only absolute paths: "C:" or "dir" would mean wherever the current folder happens to be.
    const bool absolute = (folder.size() >= 3 && folder[1] == L':' && (folder[2] == L'\\' || folder[2] == L'/')) ||
                          folder.compare(0, 2, L"\\\\") == 0;
    if (!absolute) return true;
    const std::wstring full = UpperCase(NormalizedPath(folder));
    if (full.empty()) return true;
    // Device and long-path forms are never ours.
    if (full.compare(0, 4, L"\\\\?\\") == 0 || full.compare(0, 4, L"\\\\.\\") == 0) return true;
    // "C:" or a bare "\\server\share".
    if (full.size() <= 2) return true;
    if (full.compare(0, 2, L"\\\\") == 0) {
        const size_t server = full.find(L'\\', 2);
        if (server == std::wstring::npos || full.find(L'\\', server + 1) == std::wstring::npos) return true;
    }
    static const int kSystemFolders[] = {
        CSIDL_WINDOWS,         CSIDL_SYSTEM,         CSIDL_SYSTEMX86,         CSIDL_PROGRAM_FILES,
        CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON, CSIDL_COMMON_APPDATA, CSIDL_PROFILE,
        CSIDL_APPDATA,         CSIDL_LOCAL_APPDATA,  CSIDL_PERSONAL,          CSIDL_DESKTOPDIRECTORY,
        CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_DOCUMENTS, CSIDL_STARTUP, CSIDL_COMMON_STARTUP,
        CSIDL_FONTS,
    };
    std::vector<std::wstring> system;
    for (const int csidl : kSystemFolders) system.push_back(ShellFolder(csidl));
    std::wstring temp;
    if (GetTempDirectory(temp)) system.push_back(temp);
    for (const std::wstring& entry : system) {
        const std::wstring protectedPath = UpperCase(NormalizedPath(entry));
        if (protectedPath.empty()) continue;
        // The folder itself or one that holds it.
        if (protectedPath == full ||
            (protectedPath.size() > full.size() && protectedPath.compare(0, full.size(), full) == 0 &&
             protectedPath[full.size()] == L'\\'))
            return true;
    }
    return false;
}

}} // namespace stubframework::utils
