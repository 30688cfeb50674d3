#include "stubframework/utils/Paths.h"
#include "stubframework/utils/FileHandles.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/PrivateFolder.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <cwchar>
#include <memory>

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
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::wstring name = RandomName();
        if (name.empty()) return false;
        const std::wstring candidate = prefix + name + L"\\";
        if (CreatePrivateFolder(candidate)) {
            folder = candidate;
            return true;
        }
        // Only a name someone else holds is worth another try.
        if (::GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

bool DeleteFolderTree(const std::wstring& folder) {
    if (IsProtectedFolder(folder)) return false;
    const std::wstring root = NormalizedPath(folder);
    ScopedFileHandle handle = OpenFolderNoFollow(root, DELETE);
    if (!handle) {
        // A link at the top goes itself; a folder reached through a link above it is left alone,
        // as is what the link points to.
        const DWORD attributes = ::GetFileAttributesW(root.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
        const std::wstring parent = ParentFolder(root);
        ScopedFileHandle parentHandle = OpenFolderNoFollow(parent);
        if (!parentHandle) return false;
        for (const bool isFolder : {true, false}) {
            ScopedFileHandle link = OpenInFolder(parentHandle.Get(), FileNameOf(root), DELETE,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                 ChildDisposition::OpenExisting, isFolder);
            // Only what opened as a link itself may go; where the system went through it, nothing does.
            const DWORD linkAttributes = ::GetFileAttributesW(root.c_str());
            if (link && (linkAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return DeleteByHandle(link.Get());
        }
        return false;
    }
    const bool empty = DeleteChildren(handle.Get());
    return empty && DeleteByHandle(handle.Get());
}

bool CreateFolderTree(const std::wstring& folder) {
    const int rc = ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    return rc == ERROR_SUCCESS || rc == ERROR_ALREADY_EXISTS || rc == ERROR_FILE_EXISTS;
}

bool ReadFileBytes(const std::wstring& path, uint64_t limit, std::vector<uint8_t>& bytes) {
    ScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !::GetFileSizeEx(file.Get(), &size) || static_cast<uint64_t>(size.QuadPart) > limit ||
        size.QuadPart > 0x7FFFFFFF)
        return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    return bytes.empty() || (::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
                             read == bytes.size());
}

bool WriteFileBytes(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    ScopedFileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

bool CopyOpenFile(HANDLE source, const std::wstring& target) { return CopyHandleToNewFile(source, target); }

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
