// Holder for WinHTTP handles, a type of its own so a WinINet handle can never be closed with it.
#pragma once
#include "stubframework/utils/Handle.h"

namespace stubframework { namespace utils {

void CloseWinHttpHandle(void* handle) noexcept;

struct WinHttpHandleTraits {
    using Type = void*;     // HINTERNET of winhttp.dll
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { CloseWinHttpHandle(h); }
};

using ScopedWinHttpHandle = UniqueHandle<WinHttpHandleTraits>;

}} // namespace stubframework::utils
