#include "stubframework/core/CreatedFolders.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/PrivateFolder.h"
#include "stubframework/utils/Registry.h"

#include <windows.h>

namespace stubframework { namespace core {

namespace {
const wchar_t kUserHive[] = L"HKEY_CURRENT_USER\\";

// Value names are compared without regard to case, as paths are.
std::wstring EntryName(const std::wstring& folder) { return utils::NormalizedPath(folder); }
} // namespace

std::wstring MachineKeyOf(const std::wstring& frameworkKeyPath) {
    std::wstring key = frameworkKeyPath;
    const size_t hive = sizeof(kUserHive) / sizeof(wchar_t) - 1;
    if (key.size() >= hive && ::CompareStringOrdinal(key.c_str(), static_cast<int>(hive), kUserHive,
                                                     static_cast<int>(hive), TRUE) == CSTR_EQUAL)
        key = L"HKEY_LOCAL_MACHINE\\" + key.substr(hive);
    return key;
}

std::wstring CreatedFoldersKey(const std::wstring& frameworkKeyPath) {
    return MachineKeyOf(frameworkKeyPath) + L"\\CreatedFolders";
}

void RememberCreatedFolder(const std::wstring& frameworkKeyPath, const std::wstring& folder) {
    const std::wstring name = EntryName(folder);
    if (!name.empty()) utils::WriteFrameworkValue(CreatedFoldersKey(frameworkKeyPath), name, L"1", false);
}

void ForgetCreatedFolder(const std::wstring& frameworkKeyPath, const std::wstring& folder) {
    const std::wstring name = EntryName(folder);
    if (!name.empty()) utils::DeleteRegistryValue(CreatedFoldersKey(frameworkKeyPath), name, false);
}

bool IsCreatedFolder(const std::wstring& frameworkKeyPath, const std::wstring& folder) {
    const std::wstring name = EntryName(folder);
    std::wstring value;
    return !name.empty() && utils::ReadFrameworkValue(CreatedFoldersKey(frameworkKeyPath), name, value) &&
           value == L"1";
}

bool IsWithinCreatedFolder(const std::wstring& frameworkKeyPath, const std::wstring& created,
                           const std::wstring& inner) {
    if (!IsCreatedFolder(frameworkKeyPath, created)) return false;
    const std::wstring root = utils::NormalizedPath(created);
    const std::wstring path = utils::NormalizedPath(inner);
    if (root.empty() || path.size() < root.size()) return false;
    if (::CompareStringOrdinal(path.c_str(), static_cast<int>(root.size()), root.c_str(),
                               static_cast<int>(root.size()), TRUE) != CSTR_EQUAL)
        return false;
    if (path.size() != root.size() && path[root.size()] != L'\\') return false;
    // No link on the way down: it could lead anywhere.
    for (size_t end = path.size(); end > root.size();) {
        const DWORD attributes = ::GetFileAttributesW(path.substr(0, end).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
        end = path.find_last_of(L'\\', end - 1);
        if (end == std::wstring::npos) break;
    }
    const DWORD top = ::GetFileAttributesW(root.c_str());
    return top == INVALID_FILE_ATTRIBUTES || !(top & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool DeleteCreatedFolder(const std::wstring& frameworkKeyPath, const std::wstring& folder) {
    if (!IsCreatedFolder(frameworkKeyPath, folder)) return false;
    const bool deleted = utils::DeleteFolderTree(folder);
    if (deleted || !utils::PathExists(folder)) ForgetCreatedFolder(frameworkKeyPath, folder);
    return deleted;
}

}} // namespace stubframework::core
