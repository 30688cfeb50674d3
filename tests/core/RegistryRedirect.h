// Redirects HKEY_CURRENT_USER of this process to a throwaway key for one test.
#pragma once
#include <windows.h>
#include <string>

#include "stubframework/utils/Handle.h"

namespace testsupport {

class RedirectedCurrentUser {
public:
    RedirectedCurrentUser() {
        name_ = L"Software\\TandoraTests\\" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                std::to_wstring(::GetTickCount());
        ::RegCreateKeyExW(HKEY_CURRENT_USER, name_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key_.Receive(),
                          nullptr);
        ok_ = key_ && ::RegOverridePredefKey(HKEY_CURRENT_USER, key_.Get()) == ERROR_SUCCESS;
    }
    ~RedirectedCurrentUser() {
        ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        key_.Reset();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, name_.c_str());
    }
    bool Ok() const { return ok_; }

private:
    std::wstring name_;
    stubframework::utils::ScopedRegKey key_;
    bool ok_ = false;
};

} // namespace testsupport
