// Holder for WinINet handles (HINTERNET), kept apart from Handle.h so that file never needs
// <wininet.h>. WinINet is loaded at run time, so closing goes through the loaded table.
#pragma once
#include "stubframework/utils/Handle.h"

namespace stubframework { namespace utils {

void CloseInternetHandle(void* handle) noexcept;

struct InternetHandleTraits {
    using Type = void*;     // HINTERNET
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { CloseInternetHandle(h); }
};

using ScopedInternetHandle = UniqueHandle<InternetHandleTraits>;

}} // namespace stubframework::utils
