// Creates the files a manifest names, with their sizes, in a new folder of the temporary folder
// (where the stub unpacks its bundle), through the calls the extraction makes for each entry:
// SHCreateDirectoryExW for its folder, CreateFileW, WriteFile in 64 KiB pieces. Wine's floor for
// unpacking the bundle, without reading or inflating the archive.
//   bench_bundle_probe MANIFEST      (UTF-8 lines "SIZE<TAB>relative\path", in archive order;
//                                     a path ending in "\" is a folder entry)
// Prints "files N bytes B seconds S folder F"; S covers the file creation only, not the start.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Entry {
    unsigned long long size;
    std::wstring path;
};

bool ReadManifest(const wchar_t* name, std::vector<Entry>& entries) {
    HANDLE file = ::CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string text;
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    ::CloseHandle(file);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        std::string relative = line.substr(tab + 1);
        if (!relative.empty() && relative.back() == '\r') relative.pop_back();
        wchar_t wide[MAX_PATH];
        const int length = ::MultiByteToWideChar(CP_UTF8, 0, relative.data(), static_cast<int>(relative.size()), wide,
                                                 MAX_PATH);
        if (length <= 0) return false;
        entries.push_back(Entry{std::strtoull(line.c_str(), nullptr, 10), std::wstring(wide, length)});
    }
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<Entry> entries;
    if (argc < 2 || !ReadManifest(argv[1], entries)) {
        std::fprintf(stderr, "usage: bench_bundle_probe MANIFEST\n");
        return 2;
    }
    wchar_t temp[MAX_PATH];
    if (!::GetTempPathW(MAX_PATH, temp)) return 1;
    wchar_t name[64];
    std::swprintf(name, 64, L"bundle-probe-%lx\\", ::GetTickCount());
    const std::wstring folder = std::wstring(temp) + name;

    // The stub has its folder, and the shell's first call behind it, before its unpacking starts.
    if (::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr) != ERROR_SUCCESS) return 1;
    static char piece[64 * 1024];
    LARGE_INTEGER frequency, begin, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&begin);
    unsigned long long bytes = 0;
    unsigned files = 0;
    for (const Entry& entry : entries) {
        const std::wstring path = folder + entry.path;
        const bool isFolder = path.back() == L'\\';
        const std::wstring parent = isFolder ? path : path.substr(0, path.find_last_of(L'\\'));
        const int made = ::SHCreateDirectoryExW(nullptr, parent.c_str(), nullptr);
        if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS && made != ERROR_FILE_EXISTS) return 1;
        if (isFolder) continue;
        ++files;
        HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
        if (file == INVALID_HANDLE_VALUE) return 1;
        for (unsigned long long left = entry.size; left > 0;) {
            const DWORD n = left < sizeof piece ? static_cast<DWORD>(left) : static_cast<DWORD>(sizeof piece);
            DWORD written = 0;
            if (!::WriteFile(file, piece, n, &written, nullptr) || written != n) return 1;
            left -= n;
        }
        ::CloseHandle(file);
        bytes += entry.size;
    }
    ::QueryPerformanceCounter(&end);
    std::printf("files %u bytes %llu seconds %.6f folder %ls\n", files, bytes,
                static_cast<double>(end.QuadPart - begin.QuadPart) / frequency.QuadPart, folder.c_str());
    return 0;
}
