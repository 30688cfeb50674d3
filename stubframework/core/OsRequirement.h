// The minimum-system rule of checkOS. No <windows.h>: plain numbers and text.
#pragma once
#include <string>

namespace stubframework { namespace core {

struct OsVersionNumber {
    unsigned major;
    unsigned minor;
};

// The pages' names of a minimum system, compared exactly; any other text means Windows 7.
OsVersionNumber RequiredOsVersion(const std::wstring& minOS);

// Service packs and build numbers are not examined.
bool OsMeetsRequirement(OsVersionNumber required, OsVersionNumber system);

}} // namespace stubframework::core
