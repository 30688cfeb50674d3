#include "stubframework/core/OsRequirement.h"

namespace stubframework { namespace core {

OsVersionNumber RequiredOsVersion(const std::wstring& minOS) {
    static const struct { const wchar_t* name; OsVersionNumber version; } kNames[] = {
        {L"Windows XP", {5, 1}},  {L"Windows Vista", {6, 0}}, {L"Windows 7", {6, 1}},
        {L"Windows 7 SP1", {6, 1}}, {L"Windows 8", {6, 2}},   {L"Windows 8.1", {6, 3}},
        {L"Windows 10", {10, 0}},
    };
    for (const auto& entry : kNames)
        if (minOS == entry.name) return entry.version;
    return {6, 1};
}

bool OsMeetsRequirement(OsVersionNumber required, OsVersionNumber system) {
    return required.major < system.major || (required.major == system.major && system.minor >= required.minor);
}

}} // namespace stubframework::core
