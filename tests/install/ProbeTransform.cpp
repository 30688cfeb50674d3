#include "tests/install/ProbeTransform.h"

#include <windows.h>
#include <objbase.h>
#include <wrl/client.h>

#include <cstdint>
#include <vector>

namespace installtest {

namespace {

using Microsoft::WRL::ComPtr;

// {000C1082-0000-0000-C000-000000000046}
const CLSID kTransformClass = {0x000C1082, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

int Base64Digit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'A' && c <= L'Z') return c - L'A' + 10;
    if (c >= L'a' && c <= L'z') return c - L'a' + 36;
    if (c == L'.') return 62;
    if (c == L'_') return 63;
    return -1;
}

// A table's stream name as Windows Installer stores it: a mark, then two name characters per
// stream character where it can, one where it cannot.
std::wstring StreamName(const std::wstring& table) {
    std::wstring out(1, wchar_t(0x4840));
    for (size_t i = 0; i < table.size(); ++i) {
        const int first = Base64Digit(table[i]);
        const int second = i + 1 < table.size() ? Base64Digit(table[i + 1]) : -1;
        if (second >= 0) {
            out += static_cast<wchar_t>(0x3800 + first + (second << 6));
            ++i;
        } else {
            out += static_cast<wchar_t>(0x4800 + first);
        }
    }
    return out;
}

void Add16(std::vector<uint8_t>& bytes, unsigned value) {
    bytes.push_back(static_cast<uint8_t>(value & 0xFF));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
}

bool WriteStream(IStorage* storage, const std::wstring& table, const std::vector<uint8_t>& bytes) {
    ComPtr<IStream> stream;
    ULONG written = 0;
    return SUCCEEDED(storage->CreateStream(StreamName(table).c_str(), STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE,
                                           0, 0, &stream)) &&
           SUCCEEDED(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written)) &&
           written == bytes.size();
}

} // namespace

bool WritePropTransform(const std::wstring& path, const std::string& value) {
    ComPtr<IStorage> storage;
    if (FAILED(::StgCreateDocfile(path.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &storage)) ||
        FAILED(storage->SetClass(kTransformClass)))
        return false;
    // Strings 1 "PROP" and 2 the value, referenced with two bytes each.
    std::vector<uint8_t> pool, data, rows;
    Add16(pool, 0);    // code page
    Add16(pool, 0);
    for (const std::string& text : {std::string("PROP"), value}) {
        Add16(pool, static_cast<unsigned>(text.size()));
        Add16(pool, 1);
        data.insert(data.end(), text.begin(), text.end());
    }
    // One changed row: the mask names the Value column; the key comes first.
    Add16(rows, 2);
    Add16(rows, 1);
    Add16(rows, 2);
    return WriteStream(storage.Get(), L"_StringPool", pool) && WriteStream(storage.Get(), L"_StringData", data) &&
           WriteStream(storage.Get(), L"Property", rows) && SUCCEEDED(storage->Commit(STGC_DEFAULT));
}

} // namespace installtest
