#include "tests/support/TempFolder.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Paths.h"

namespace testsupport {

using namespace stubframework::utils;

TempFolder::TempFolder() {
    std::wstring temp;
    if (GetTempDirectory(temp)) CreateUniqueSubfolder(temp, path_);
}

TempFolder::~TempFolder() {
    if (!path_.empty()) DeleteFolderTree(path_);
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    ScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

bool ReadFileBytes(const std::wstring& path, std::string& bytes) {
    ScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file.Get(), &size)) return false;
    bytes.assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    return bytes.empty() ||
           (::ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) &&
            read == bytes.size());
}

} // namespace testsupport
