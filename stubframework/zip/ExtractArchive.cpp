#include "stubframework/zip/ExtractArchive.h"
#include "stubframework/zip/ZipReader.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Paths.h"

#include <algorithm>
#include <set>

namespace stubframework { namespace zip {

namespace {

constexpr size_t kMaxNameBytes = 259;

size_t ReadAt(HANDLE file, uint64_t offset, void* buffer, size_t size, ZipReporter* reporter) {
    OVERLAPPED overlapped = {};
    overlapped.Offset = static_cast<DWORD>(offset);
    overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    if (!::ReadFile(file, buffer, static_cast<DWORD>(size), &got, &overlapped)) got = 0;
    if (got < size && reporter) reporter->LastError(::GetLastError());
    return got;
}

bool FullPath(const std::wstring& path, std::wstring& full) {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = ::GetFullPathNameW(path.c_str(), MAX_PATH + 1, buffer, nullptr);
    if (length == 0 || length > MAX_PATH) return false;
    full.assign(buffer, length);
    return true;
}

// Second line of defence behind IsSafeEntryName: ask Windows where the path really goes. The
// folder is a full path already.
bool IsBelow(const std::wstring& target, const std::wstring& folder, std::wstring& fullTarget) {
    std::wstring fullFolder = folder;
    if (!FullPath(target, fullTarget)) return false;
    while (!fullFolder.empty() && fullFolder.back() == L'\\') fullFolder.pop_back();
    fullFolder += L'\\';
    return fullTarget.size() > fullFolder.size() &&
           ::CompareStringOrdinal(fullTarget.c_str(), static_cast<int>(fullFolder.size()), fullFolder.c_str(),
                                  static_cast<int>(fullFolder.size()), TRUE) == CSTR_EQUAL;
}

// The files one extraction has written, by full path in upper case (as the file system compares).
using ExtractedFiles = std::set<std::wstring>;

bool ExtractEntry(const ZipReader& reader, size_t index, const std::wstring& destination, ZipReporter* reporter,
                  ExtractedFiles& extracted) {
    const ZipEntry& entry = reader.Entry(index);
    const bool folder = (!entry.name.empty() && entry.name.back() == '/') ||
                        (entry.externalAttributes & FILE_ATTRIBUTE_DIRECTORY);
    std::wstring name, target, fullTarget;
    if (!EntryPathName(entry, name)) return false;
    // Some tools store the tree as "./", "./a.txt", "./sub/": "./" is the destination itself.
    while (name.compare(0, 2, L".\\") == 0) name.erase(0, 2);
    if (name.empty() || name == L".") return folder;
    if (!IsSafeEntryName(name) || !utils::CombinePath(destination, name, target) ||
        !IsBelow(target, destination, fullTarget))
        return false;

    if (folder) {
        utils::CreateFolderTree(target);   // an existing or uncreatable folder is not an error here
        return true;
    }

    // A second entry for a file already extracted (same name in another case, with trailing
    // dots, cut to the same 259 bytes, or its short 8.3 alias) would silently replace the first
    // one's content. A file that exists already is known by its long name. Only a name with a
    // tilde can hold a generated short alias, and asking for the long name walks every folder
    // of the path, so the other names are compared as they are.
    if (name.find(L'~') != std::wstring::npos) {
        wchar_t longName[MAX_PATH + 1];
        const DWORD longLength = ::GetLongPathNameW(fullTarget.c_str(), longName, MAX_PATH + 1);
        if (longLength > 0 && longLength <= MAX_PATH) fullTarget.assign(longName, longLength);
    }
    ::CharUpperBuffW(&fullTarget[0], static_cast<DWORD>(fullTarget.size()));
    if (!extracted.insert(fullTarget).second) return false;

    utils::CreateFolderTree(utils::ParentFolder(target));
    utils::ScopedFileHandle file(::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;

    const ZipError result = reader.Extract(index, [&](const void* data, size_t size) {
        DWORD written = 0;
        if (!::WriteFile(file.Get(), data, static_cast<DWORD>(size), &written, nullptr)) written = 0;
        if (written < size) {
            if (reporter) reporter->LastError(::GetLastError());
            return false;
        }
        return true;
    });
    if (result != ZipError::None) {
        // No half-written or unverified file stays behind.
        file.Reset();
        ::DeleteFileW(target.c_str());
        return false;
    }
    return true;
}

} // namespace

bool EntryPathName(const std::string& rawName, std::wstring& name, bool utf8) {
    size_t nameBytes = std::min(rawName.size(), kMaxNameBytes);
    // Cut UTF-8 before a character, not inside one.
    if (utf8 && nameBytes < rawName.size())
        while (nameBytes > 0 && (static_cast<unsigned char>(rawName[nameBytes]) & 0xC0) == 0x80) --nameBytes;
    wchar_t wide[kMaxNameBytes + 1];
    const int length = ::MultiByteToWideChar(utf8 ? CP_UTF8 : CP_ACP, utf8 ? MB_ERR_INVALID_CHARS : 0, rawName.data(),
                                             static_cast<int>(nameBytes), wide, kMaxNameBytes + 1);
    if (length <= 0) return false;
    name.assign(wide, static_cast<size_t>(length));
    std::replace(name.begin(), name.end(), L'/', L'\\');
    return true;
}

bool EntryPathName(const ZipEntry& entry, std::wstring& name) {
    return entry.utf8Name.empty() ? EntryPathName(entry.name, name) : EntryPathName(entry.utf8Name, name, true);
}

bool ExtractArchive(HANDLE file, const std::wstring& folder, ZipReporter* reporter) {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file, &size)) return false;

    ZipReader reader;
    const ZipError opened = reader.Open(
        [file, reporter](uint64_t offset, void* buffer, size_t count) {
            return ReadAt(file, offset, buffer, count, reporter);
        },
        static_cast<uint64_t>(size.QuadPart));
    if (opened != ZipError::None) return false;

    // The folder functions below take full paths only.
    std::wstring destination;
    if (!FullPath(folder, destination) || !utils::CreateFolderTree(destination)) return false;
    // Every entry's path is compared in one form: the folder's own long name, which is also how
    // an existing file's path comes back (a temporary folder is often given by its short name).
    wchar_t longFolder[MAX_PATH + 1];
    const DWORD longLength = ::GetLongPathNameW(destination.c_str(), longFolder, MAX_PATH + 1);
    if (longLength > 0 && longLength <= MAX_PATH) destination.assign(longFolder, longLength);

    const unsigned count = static_cast<unsigned>(reader.Count());
    ExtractedFiles extracted;
    bool ok = true;
    for (unsigned i = 0; i < count && ok; ++i) {
        if (reporter) reporter->Progress(i, count);
        ok = ExtractEntry(reader, i, destination, reporter, extracted);
    }
    if (reporter) reporter->Progress(count, count);
    return ok;
}

}} // namespace stubframework::zip
