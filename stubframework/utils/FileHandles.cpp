#include "stubframework/utils/FileHandles.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/PrivateFolder.h"

#include <winternl.h>
#include <cstring>
#include <cwchar>
#include <memory>

namespace stubframework { namespace utils {

namespace {

// NtCreateFile's dispositions and options (ntifs.h, which MinGW's user-mode headers lack).
constexpr ULONG kFileOpen = 1;
constexpr ULONG kFileCreate = 2;
constexpr ULONG kFileOpenIf = 3;
constexpr ULONG kDirectoryFile = 0x00000001;
constexpr ULONG kSynchronousIoNonAlert = 0x00000020;
constexpr ULONG kNonDirectoryFile = 0x00000040;
constexpr ULONG kOpenForBackupIntent = 0x00004000;
constexpr ULONG kOpenReparsePoint = 0x00200000;

using NtCreateFileFunction = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                              PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using StatusToErrorFunction = ULONG(NTAPI*)(NTSTATUS);

// ntdll is in every process; it is looked up rather than imported.
template <typename Function>
Function NtdllFunction(const char* name) {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(ntdll, name))) : nullptr;
}

std::wstring WithoutTrailingSlashes(std::wstring path) {
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path;
}

DWORD AttributesOf(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info = {};
    return ::GetFileInformationByHandle(handle, &info) ? info.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

bool IsLinkHandle(HANDLE handle) {
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if (::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof(tag)))
        return (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    const DWORD attributes = AttributesOf(handle);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

} // namespace

std::wstring FinalPathOf(HANDLE handle) {
    wchar_t buffer[1024] = {};
    const DWORD length = ::GetFinalPathNameByHandleW(handle, buffer, 1024, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= 1024) return std::wstring();
    std::wstring path(buffer, length);
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) path = L"\\\\" + path.substr(8);
    else if (path.compare(0, 4, L"\\\\?\\") == 0) path = path.substr(4);
    return WithoutTrailingSlashes(path);
}

std::wstring LongPathOf(const std::wstring& path) {
    std::wstring full = NormalizedPath(path);
    wchar_t longPath[1024] = {};
    const DWORD length = ::GetLongPathNameW(full.c_str(), longPath, 1024);
    if (length != 0 && length < 1024) full.assign(longPath, length);
    return full;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    const std::wstring left = WithoutTrailingSlashes(a), right = WithoutTrailingSlashes(b);
    return !left.empty() && ::CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                                                   static_cast<int>(right.size()), TRUE) == CSTR_EQUAL;
}

ScopedFileHandle OpenFolderNoFollow(const std::wstring& folder, DWORD access, DWORD share) {
    // The long form of what was asked: a short alias in it would differ from the real path.
    const std::wstring asked = LongPathOf(folder);
    ScopedFileHandle handle(::CreateFileW(asked.c_str(), access | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                          share, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle) return handle;
    const DWORD attributes = AttributesOf(handle.Get());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) || IsLinkHandle(handle.Get()) ||
        !SamePath(FinalPathOf(handle.Get()), asked)) {
        handle.Reset();
        ::SetLastError(ERROR_CANT_ACCESS_FILE);
    }
    return handle;
}

ScopedFileHandle OpenInFolder(HANDLE parent, const std::wstring& name, DWORD access, DWORD share,
                              ChildDisposition disposition, bool folder, PSECURITY_DESCRIPTOR descriptor) {
    static const NtCreateFileFunction create = NtdllFunction<NtCreateFileFunction>("NtCreateFile");
    static const StatusToErrorFunction toError = NtdllFunction<StatusToErrorFunction>("RtlNtStatusToDosError");
    if (!create || name.empty() || name == L"." || name == L".." || name.find_first_of(L"\\/:") != std::wstring::npos ||
        name.size() > 255) {
        ::SetLastError(ERROR_INVALID_NAME);
        return ScopedFileHandle();
    }
    const std::wstring parentPath = FinalPathOf(parent);
    if (parentPath.empty()) return ScopedFileHandle();

    std::wstring text = name;
    UNICODE_STRING unicode;
    unicode.Buffer = &text[0];
    unicode.Length = static_cast<USHORT>(text.size() * sizeof(wchar_t));
    unicode.MaximumLength = unicode.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &unicode, OBJ_CASE_INSENSITIVE, parent, descriptor);
    IO_STATUS_BLOCK status = {};
    const ULONG how = disposition == ChildDisposition::OpenExisting ? kFileOpen
                      : disposition == ChildDisposition::CreateNew  ? kFileCreate
                                                                    : kFileOpenIf;
    const ULONG options = kSynchronousIoNonAlert | kOpenReparsePoint |
                          (folder ? kDirectoryFile | kOpenForBackupIntent : kNonDirectoryFile);
    HANDLE raw = nullptr;
    const NTSTATUS result = create(&raw, access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &attributes, &status, nullptr,
                                   FILE_ATTRIBUTE_NORMAL, share, how, options, nullptr, 0);
    if (result < 0) {
        ::SetLastError(toError ? toError(result) : ERROR_ACCESS_DENIED);
        return ScopedFileHandle();
    }
    ScopedFileHandle handle(raw);
    // A link opened as itself is fine to remove, never to use; under some systems the open goes
    // through it anyway, which the real path shows.
    if (!SamePath(FinalPathOf(handle.Get()), parentPath + L"\\" + name) ||
        (IsLinkHandle(handle.Get()) && disposition != ChildDisposition::OpenExisting)) {
        handle.Reset();
        ::SetLastError(ERROR_CANT_ACCESS_FILE);
    }
    return handle;
}

bool ListFolder(HANDLE folder, std::vector<std::wstring>& names) {
    names.clear();
    alignas(8) BYTE buffer[16 * 1024];
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    for (;;) {
        if (!::GetFileInformationByHandleEx(folder, kind, buffer, sizeof(buffer)))
            return ::GetLastError() == ERROR_NO_MORE_FILES;
        kind = FileIdBothDirectoryInfo;
        for (const BYTE* at = buffer;;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
            const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") names.push_back(name);
            if (entry->NextEntryOffset == 0) break;
            at += entry->NextEntryOffset;
        }
    }
}

bool DeleteByHandle(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

namespace {
DeleteRaceHook g_deleteRaceHook = nullptr;
}

void SetDeleteRaceHookForTesting(DeleteRaceHook hook) { g_deleteRaceHook = hook; }

bool DeleteChildren(HANDLE folder) {
    std::vector<std::wstring> names;
    if (!ListFolder(folder, names)) return false;
    bool empty = true;
    for (const std::wstring& name : names) {
        if (g_deleteRaceHook) g_deleteRaceHook(FinalPathOf(folder), name);
        // Opened as itself: a link is the link, and its real path shows when the system went through it.
        ScopedFileHandle child;
        for (const bool isFolder : {false, true}) {
            child = OpenInFolder(folder, name, DELETE | FILE_WRITE_ATTRIBUTES | (isFolder ? FILE_LIST_DIRECTORY : 0),
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, ChildDisposition::OpenExisting,
                                 isFolder);
            if (child) break;
        }
        if (!child) {
            empty = false;
            continue;
        }
        const DWORD attributes = AttributesOf(child.Get());
        if (!IsLinkHandle(child.Get()) && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            if (!DeleteChildren(child.Get())) empty = false;
        } else if (attributes & FILE_ATTRIBUTE_READONLY) {
            FILE_BASIC_INFO basic = {};
            basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
            ::SetFileInformationByHandle(child.Get(), FileBasicInfo, &basic, sizeof(basic));
        }
        if (!DeleteByHandle(child.Get())) empty = false;
    }
    return empty;
}

bool RenameAside(const std::wstring& path, std::wstring* aside) {
    const std::wstring full = NormalizedPath(path);
    const std::wstring parent = ParentFolder(full);
    if (full.empty() || parent.empty()) return false;
    ScopedFileHandle parentHandle = OpenFolderNoFollow(parent);
    if (!parentHandle) return false;
    const std::wstring name = FileNameOf(full);
    ScopedFileHandle object;
    for (const bool isFolder : {true, false}) {
        object = OpenInFolder(parentHandle.Get(), name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              ChildDisposition::OpenExisting, isFolder);
        if (object) break;
    }
    if (!object) return false;
    const std::wstring target = FinalPathOf(parentHandle.Get()) + L"\\" + name + L"." + RandomName() + L".old";
    if (!RenameByHandle(object.Get(), target, false)) return false;
    if (aside) *aside = target;
    return true;
}

bool RenameByHandle(HANDLE handle, const std::wstring& target, bool replace) {
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, target.c_str(), rename->FileNameLength);
    return ::SetFileInformationByHandle(handle, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())) != FALSE;
}

namespace {
template <typename Fill>
bool CreateAndFill(const std::wstring& path, Fill fill) {
    const std::wstring full = NormalizedPath(path);
    ScopedFileHandle parent = OpenFolderNoFollow(ParentFolder(full));
    if (!parent) return false;
    ScopedFileHandle file = OpenInFolder(parent.Get(), FileNameOf(full), GENERIC_WRITE | DELETE, 0,
                                         ChildDisposition::CreateNew, false);
    if (!file) return false;
    if (fill(file.Get())) return true;
    const DWORD error = ::GetLastError();
    DeleteByHandle(file.Get());
    ::SetLastError(error);
    return false;
}
} // namespace

bool WriteNewFileNoFollow(const std::wstring& path, const void* bytes, size_t size) {
    return CreateAndFill(path, [&](HANDLE file) {
        const BYTE* at = static_cast<const BYTE*>(bytes);
        for (size_t left = size; left > 0;) {
            const DWORD piece = left > (1u << 20) ? (1u << 20) : static_cast<DWORD>(left);
            DWORD written = 0;
            if (!::WriteFile(file, at, piece, &written, nullptr) || written != piece) return false;
            at += piece;
            left -= piece;
        }
        return true;
    });
}

bool CopyHandleToHandle(HANDLE source, HANDLE target) {
    LARGE_INTEGER start = {};
    if (!::SetFilePointerEx(source, start, nullptr, FILE_BEGIN)) return false;
    static const DWORD kPiece = 64 * 1024;
    std::unique_ptr<BYTE[]> buffer(new BYTE[kPiece]);
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(source, buffer.get(), kPiece, &got, nullptr)) return false;
        if (got == 0) return true;
        DWORD written = 0;
        if (!::WriteFile(target, buffer.get(), got, &written, nullptr) || written != got) return false;
    }
}

bool CopyHandleToNewFile(HANDLE source, const std::wstring& target) {
    return CreateAndFill(target, [&](HANDLE file) { return CopyHandleToHandle(source, file); });
}

}} // namespace stubframework::utils
