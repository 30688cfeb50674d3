// bench_wininet_probe URL available|fixed:BYTES: fetches URL with synchronous WinINet and the
// downloader's cache flags, and discards the body. "available" reads what
// InternetQueryDataAvailable announces each time (the downloader's pattern), "fixed:N" reads N
// bytes per call. Prints the bytes, the reads and the seconds, so Wine's own cost can be
// measured apart from ours.
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cwchar>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fputs("usage: bench_wininet_probe URL available|fixed:BYTES\n", stderr);
        return 2;
    }
    const bool available = std::wcscmp(argv[2], L"available") == 0;
    DWORD fixed = 0;
    if (!available && std::swscanf(argv[2], L"fixed:%lu", &fixed) != 1) return 2;
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    HINTERNET session = ::InternetOpenW(L"bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION |
                        INTERNET_FLAG_NO_UI;
    HINTERNET request = session ? ::InternetOpenUrlW(session, argv[1], nullptr, 0, flags, 0) : nullptr;
    if (!request) {
        std::fprintf(stderr, "open failed %lu\n", ::GetLastError());
        return 1;
    }
    std::vector<char> buffer(fixed ? fixed : 1);
    unsigned long long total = 0, reads = 0;
    for (;;) {
        DWORD want = fixed;
        if (available) {
            if (!::InternetQueryDataAvailable(request, &want, 0, 0)) break;
            if (want == 0) break;
            if (buffer.size() < want) buffer.resize(want);
        }
        DWORD got = 0;
        if (!::InternetReadFile(request, buffer.data(), want, &got) || got == 0) break;
        total += got;
        ++reads;
    }
    ::QueryPerformanceCounter(&end);
    ::InternetCloseHandle(request);
    ::InternetCloseHandle(session);
    std::printf("bytes %llu reads %llu seconds %.3f\n", total, reads,
                static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
    return 0;
}
