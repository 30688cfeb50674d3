#include "stubframework/utils/FileCrc.h"
#include "stubframework/utils/Handle.h"

#include <vector>
#include <zlib.h>

namespace stubframework { namespace utils {

bool FileCrc32(const std::wstring& path, unsigned long& crc) {
    ScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    std::vector<unsigned char> piece(1 << 20);
    uLong value = ::crc32(0L, Z_NULL, 0);
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.Get(), piece.data(), static_cast<DWORD>(piece.size()), &got, nullptr)) return false;
        if (got == 0) break;
        value = ::crc32(value, piece.data(), got);
    }
    crc = value;
    return true;
}

}} // namespace stubframework::utils
