// stubtool pack <stub.exe> <bundle-folder> <out.exe>: the shipping exe is the stub with the UI
// bundle appended as a ZIP archive, which the stub finds again by searching from its end.
#include "tools/stubtool/Commands.h"
#include "tools/stubtool/Console.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/WideFormat.h"
#include "stubframework/zip/ZipWriter.h"

#include <windows.h>
#include <algorithm>
#include <vector>

using stubframework::utils::FormatWide;
using stubframework::utils::ScopedFileHandle;
using stubframework::utils::ScopedFindHandle;
namespace zip = stubframework::zip;

namespace stubtool {
namespace {

// Smaller files are packed from memory, so incompressible ones (images) can be stored.
constexpr ULONGLONG kWholeFileLimit = 4 * 1024 * 1024;

struct BundleItem {
    std::string name;        // relative, "/" separated, folders end with "/"
    std::wstring path;
    bool folder = false;
    ULONGLONG size = 0;
    zip::DosDateTime when;
};

bool FullPath(const std::wstring& path, std::wstring& full) {
    std::vector<wchar_t> buffer(32768);
    const DWORD length = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0 || length >= buffer.size()) return false;
    full.assign(buffer.data(), length);
    return true;
}

zip::DosDateTime DosTimeOf(const FILETIME& written) {
    zip::DosDateTime when;
    FILETIME local;
    WORD date = 0, time = 0;
    if (::FileTimeToLocalFileTime(&written, &local) && ::FileTimeToDosDateTime(&local, &date, &time) &&
        date >= when.date) {
        when.date = date;
        when.time = time;
    }
    return when;
}

// Names go in as plain ASCII: the stub reads them in whatever ANSI code page the user's system has.
bool ToArchiveName(const std::wstring& relative, std::string& name) {
    name.clear();
    for (wchar_t c : relative) {
        if (c == 0 || c >= 0x80) return false;
        name += c == L'\\' ? '/' : static_cast<char>(c);
    }
    return true;
}

// root ends with a backslash; relative is "" or ends with one.
bool CollectItems(const std::wstring& root, const std::wstring& relative, std::vector<BundleItem>& items) {
    WIN32_FIND_DATAW data;
    ScopedFindHandle find(::FindFirstFileW((root + relative + L"*").c_str(), &data));
    if (!find) {
        PrintError(FormatWide(L"cannot list folder %s%s (error %lu)", root.c_str(), relative.c_str(), ::GetLastError()));
        return false;
    }
    do {
        const std::wstring leaf = data.cFileName;
        if (leaf == L"." || leaf == L"..") continue;
        BundleItem item;
        item.folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const std::wstring itemRelative = relative + leaf + (item.folder ? L"\\" : L"");
        if (!ToArchiveName(itemRelative, item.name)) {
            PrintError(FormatWide(L"file name is not plain ASCII: %s", itemRelative.c_str()));
            return false;
        }
        item.path = root + itemRelative;
        item.size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        item.when = DosTimeOf(data.ftLastWriteTime);
        items.push_back(item);
        if (item.folder && !CollectItems(root, itemRelative, items)) return false;
    } while (::FindNextFileW(find.Get(), &data));
    return true;
}

bool WriteAll(HANDLE file, const void* data, size_t size) {
    DWORD written = 0;
    return ::WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

bool CopyStub(const std::wstring& stub, HANDLE out) {
    ScopedFileHandle in(::CreateFileW(stub.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!in) {
        PrintError(FormatWide(L"cannot open %s (error %lu)", stub.c_str(), ::GetLastError()));
        return false;
    }
    std::vector<unsigned char> buffer(zip::ZipReader::kBlockSize);
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(in.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            PrintError(FormatWide(L"cannot read %s (error %lu)", stub.c_str(), ::GetLastError()));
            return false;
        }
        if (got == 0) return true;
        if (!WriteAll(out, buffer.data(), got)) {
            PrintError(FormatWide(L"cannot write the output (error %lu)", ::GetLastError()));
            return false;
        }
    }
}

bool AddItem(zip::ZipWriter& writer, const BundleItem& item) {
    if (item.folder) return writer.AddFolder(item.name, item.when);

    ScopedFileHandle in(::CreateFileW(item.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!in) {
        PrintError(FormatWide(L"cannot open %s (error %lu)", item.path.c_str(), ::GetLastError()));
        return false;
    }
    if (item.size <= kWholeFileLimit) {
        std::vector<unsigned char> data(static_cast<size_t>(item.size));
        DWORD got = 0;
        if (!data.empty() && (!::ReadFile(in.Get(), data.data(), static_cast<DWORD>(data.size()), &got, nullptr) ||
                              got != data.size())) {
            PrintError(FormatWide(L"cannot read %s (error %lu)", item.path.c_str(), ::GetLastError()));
            return false;
        }
        return writer.AddFile(item.name, data.data(), data.size(), item.when);
    }
    return writer.AddFile(
        item.name,
        [&](void* buffer, size_t capacity, size_t& got) {
            DWORD read = 0;
            const BOOL ok = ::ReadFile(in.Get(), buffer, static_cast<DWORD>(capacity), &read, nullptr);
            if (!ok) PrintError(FormatWide(L"cannot read %s (error %lu)", item.path.c_str(), ::GetLastError()));
            got = read;
            return ok != FALSE;
        },
        item.when);
}

bool Pack(const std::wstring& stub, const std::wstring& folder, const std::wstring& output, size_t& count,
          ULONGLONG& archiveSize) {
    std::vector<BundleItem> items;
    if (!CollectItems(folder, L"", items)) return false;
    std::sort(items.begin(), items.end(), [](const BundleItem& a, const BundleItem& b) { return a.name < b.name; });

    ScopedFileHandle out(::CreateFileW(output.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) {
        PrintError(FormatWide(L"cannot create %s (error %lu)", output.c_str(), ::GetLastError()));
        return false;
    }
    if (!CopyStub(stub, out.Get())) return false;

    zip::ZipWriter writer([&](const void* data, size_t size) {
        if (WriteAll(out.Get(), data, size)) return true;
        PrintError(FormatWide(L"cannot write %s (error %lu)", output.c_str(), ::GetLastError()));
        return false;
    });
    for (const BundleItem& item : items) {
        if (!AddItem(writer, item)) {
            PrintError(FormatWide(L"cannot pack %S", item.name.c_str()));
            return false;
        }
    }
    if (!writer.Finish()) {
        PrintError(L"cannot finish the archive");
        return false;
    }
    count = items.size();
    archiveSize = writer.BytesWritten();
    return true;
}

} // namespace

int RunPack(const Arguments& arguments) {
    if (arguments.size() != 3) {
        PrintLine(L"usage: stubtool pack <stub.exe> <bundle-folder> <out.exe>");
        return kExitUsage;
    }
    std::wstring stub, folder, output;
    if (!FullPath(arguments[0], stub) || !FullPath(arguments[1], folder) || !FullPath(arguments[2], output)) {
        PrintError(L"bad path");
        return kExitFailed;
    }
    if (::CompareStringOrdinal(stub.c_str(), -1, output.c_str(), -1, TRUE) == CSTR_EQUAL) {
        PrintError(L"the output must not be the stub itself");
        return kExitFailed;
    }
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        PrintError(FormatWide(L"not a folder: %s", folder.c_str()));
        return kExitFailed;
    }

    size_t count = 0;
    ULONGLONG archiveSize = 0;
    if (folder.back() != L'\\') folder += L'\\';
    if (!Pack(stub, folder, output, count, archiveSize)) {
        ::DeleteFileW(output.c_str());   // a half-written exe must not look like a result
        return kExitFailed;
    }
    PrintLine(FormatWide(L"packed %lu entries (%I64u bytes) into %s", static_cast<unsigned long>(count),
                         archiveSize, output.c_str()));
    return kExitOk;
}

} // namespace stubtool
