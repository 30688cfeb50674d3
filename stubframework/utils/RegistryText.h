// Text rules of the registry operations. No <windows.h>: they also build natively.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace stubframework { namespace utils {

// The pieces of a ";"-separated suffix list, empty pieces included; "" is an empty list.
std::vector<std::wstring> SplitSuffixList(const std::wstring& list);

// rel is a path relative to the search's start key with a trailing backslash. True when the
// suffix is shorter than rel and equals, ignoring case, the characters just before rel's
// final backslash.
bool RelativePathHasSuffix(const std::wstring& rel, const std::wstring& suffix);

enum class DecimalParse { Ok, Invalid, OutOfRange };
// std::stoi's reading of text: leading blanks, an optional sign, then at least one digit;
// what follows the digits is ignored. The value must fit in 32 bits.
DecimalParse ParseDecimalPrefix(const std::wstring& text, std::int32_t& value);

}} // namespace stubframework::utils
