// bench_sha1_probe FILE: SHA-1 of each 1 MiB block of FILE through CryptoAPI on one thread, read
// with plain 1 MiB reads. Prints the bytes, the blocks and the seconds: the platform's own cost
// of the hashing a verified download needs.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: bench_sha1_probe FILE\n", stderr);
        return 2;
    }
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    HANDLE file = ::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    HCRYPTPROV provider = 0;
    if (file == INVALID_HANDLE_VALUE ||
        !::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        std::fprintf(stderr, "open failed %lu\n", ::GetLastError());
        return 1;
    }
    std::vector<BYTE> buffer(1048576);
    unsigned long long total = 0, blocks = 0;
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return 1;
        if (got == 0) break;
        HCRYPTHASH hash = 0;
        BYTE digest[20];
        DWORD length = sizeof(digest);
        if (!::CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash) || !::CryptHashData(hash, buffer.data(), got, 0) ||
            !::CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0)) {
            return 1;
        }
        ::CryptDestroyHash(hash);
        total += got;
        ++blocks;
    }
    ::QueryPerformanceCounter(&end);
    ::CryptReleaseContext(provider, 0);
    ::CloseHandle(file);
    std::printf("bytes %llu blocks %llu seconds %.3f\n", total, blocks,
                static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
    return 0;
}
