#include "stubframework/utils/PrivateFolder.h"
#include "stubframework/utils/Paths.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>
#include <ntsecapi.h>
#include <cwchar>
#include <vector>

namespace stubframework { namespace utils {

namespace {
// The installer service's SID: it owns much of the system's own folders.
const wchar_t kTrustedInstallerSid[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

std::wstring UpperCase(std::wstring text) {
    if (!text.empty()) ::CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

std::wstring ShellFolder(int csidl) {
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer))) return std::wstring();
    return buffer;
}

// Removes what is at path without following it: a link goes, a real folder is deleted.
bool RemoveForReplacement(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ::RemoveDirectoryW(path.c_str()) != FALSE
                                                       : ::DeleteFileW(path.c_str()) != FALSE;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return ::DeleteFileW(path.c_str()) != FALSE;
    if (DeleteFolderTree(path)) return true;
    // Something inside is in use: move the whole folder out of the way instead.
    return ::MoveFileExW(path.c_str(), (path + L"." + RandomName() + L".old").c_str(), 0) != FALSE;
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

bool IsAdminOwnedFolder(const std::wstring& folder) {
    // Opened as it is: a link is looked at, not what it points to.
    ScopedFileHandle handle(::CreateFileW(folder.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                          nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!handle || !::GetFileInformationByHandle(handle.Get(), &info)) return false;
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (::GetSecurityInfo(handle.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                          nullptr, &raw) != ERROR_SUCCESS)
        return false;
    ScopedLocalMemory descriptor(raw);
    if (!owner) return false;
    if (::IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || ::IsWellKnownSid(owner, WinLocalSystemSid)) return true;
    wchar_t* text = nullptr;
    if (!::ConvertSidToStringSidW(owner, &text)) return false;
    ScopedLocalMemory textHolder(text);
    return std::wcscmp(text, kTrustedInstallerSid) == 0;
}

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
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        const bool realFolder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                                !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
        // Without elevation there is nothing to take over: a real folder of the user's will do.
        if (realFolder && (!elevated || IsAdminOwnedFolder(path))) continue;
        if (attributes != INVALID_FILE_ATTRIBUTES && !RemoveForReplacement(path)) return std::wstring();
        if (!CreatePrivateFolder(path)) return std::wstring();
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
