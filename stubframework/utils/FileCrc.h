// CRC-32 (the ZIP polynomial) of a whole file.
#pragma once
#include <string>

namespace stubframework { namespace utils {

// Reads the file in 1 MiB pieces, opened for reading without sharing so nobody changes it
// meanwhile. False when it cannot be opened or read.
bool FileCrc32(const std::wstring& path, unsigned long& crc);

}} // namespace stubframework::utils
