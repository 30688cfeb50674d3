// Turns a fuzzer's bytes into the texts the parsers take.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzinput {

// The pieces of the input between separator bytes (empty pieces included).
inline std::vector<std::string> Split(const uint8_t* data, size_t size, char separator) {
    std::vector<std::string> pieces(1);
    for (size_t i = 0; i < size; ++i) {
        if (static_cast<char>(data[i]) == separator) pieces.emplace_back();
        else pieces.back() += static_cast<char>(data[i]);
    }
    return pieces;
}

// Each byte one character, except that 0xFF takes the next two bytes as one UTF-16 unit (little
// end first), so that inputs reach characters outside Latin-1 and lone surrogates too.
inline std::wstring Widen(const std::string& bytes) {
    std::wstring text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b == 0xFF && i + 2 < bytes.size()) {
            text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i + 1]) |
                                         (static_cast<unsigned char>(bytes[i + 2]) << 8));
            i += 2;
        } else {
            text += static_cast<wchar_t>(b);
        }
    }
    return text;
}

} // namespace fuzzinput
