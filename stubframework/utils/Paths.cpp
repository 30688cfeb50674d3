#include "stubframework/utils/Paths.h"
#include "stubframework/utils/Handle.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <cwchar>

namespace stubframework { namespace utils {

bool GetTempDirectory(std::wstring& folder) {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH, buffer);
    if (length == 0 || length > 258) return false;
    std::wstring path(buffer, length);
    if (path.back() != L'\\') path += L'\\';

    wchar_t longPath[520] = {};
    const DWORD longLength = ::GetLongPathNameW(path.c_str(), longPath, 520);
    if (longLength != 0 && longLength < 520) path.assign(longPath, longLength);
    if (path.back() != L'\\') path += L'\\';
    folder = path;
    return true;
}

bool CreateUniqueSubfolder(const std::wstring& base, std::wstring& folder) {
    if (!PathExists(base)) return false;
    std::wstring prefix = base;
    if (!prefix.empty() && prefix.back() != L'\\') prefix += L'\\';
    DWORD counter = ::GetTickCount();
    for (;;) {
        wchar_t name[16];
        std::swprintf(name, 16, L"%lx", static_cast<unsigned long>(counter));
        const std::wstring candidate = prefix + name + L"\\";
        if (!PathExists(candidate)) {
            if (!::CreateDirectoryW(candidate.c_str(), nullptr)) {
                // Someone else took the name in between: try the next number.
                if (::GetLastError() == ERROR_ALREADY_EXISTS) { ++counter; continue; }
                return false;
            }
            folder = candidate;
            return true;
        }
        ++counter;
    }
}

bool DeleteFolderTree(const std::wstring& folder) {
    std::wstring root = folder;
    while (!root.empty() && root.back() == L'\\') root.pop_back();
    if (root.empty()) return false;

    WIN32_FIND_DATAW data;
    ScopedFindHandle find(::FindFirstFileW((root + L"\\*").c_str(), &data));
    if (find) {
        do {
            const std::wstring child = root + L"\\" + data.cFileName;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (std::wcscmp(data.cFileName, L".") != 0 && std::wcscmp(data.cFileName, L"..") != 0)
                    DeleteFolderTree(child);
            } else {
                if (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                    ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(child.c_str());
            }
        } while (::FindNextFileW(find.Get(), &data));
    }
    find.Reset();
    return ::RemoveDirectoryW(root.c_str()) != FALSE;
}

bool CreateFolderTree(const std::wstring& folder) {
    const int rc = ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    return rc == ERROR_SUCCESS || rc == ERROR_ALREADY_EXISTS || rc == ERROR_FILE_EXISTS;
}

bool PathExists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool GetOwnModulePath(std::wstring& path) {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    path.assign(buffer, length);
    return true;
}

bool CombinePath(const std::wstring& folder, const std::wstring& name, std::wstring& result) {
    wchar_t buffer[MAX_PATH] = {};
    if (!::PathCombineW(buffer, folder.c_str(), name.c_str())) return false;
    result = buffer;
    return true;
}

std::wstring ParentFolder(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::wstring FileNameOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}} // namespace stubframework::utils
