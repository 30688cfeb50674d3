// Holder for SetupAPI device information sets.
#pragma once
#include "stubframework/utils/Handle.h"
#include <setupapi.h>

namespace stubframework { namespace utils {

struct DeviceInfoTraits {
    using Type = HDEVINFO;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::SetupDiDestroyDeviceInfoList(h); }
};

using ScopedDeviceInfo = UniqueHandle<DeviceInfoTraits>;

}} // namespace stubframework::utils
