// Membership of the calling thread in a COM apartment for the length of a scope.
#pragma once
#include <windows.h>
#include <objbase.h>

namespace stubframework { namespace utils {

// Leaves the apartment only when the join succeeded (S_FALSE, already a member, counts as one).
class ScopedComApartment {
public:
    explicit ScopedComApartment(DWORD model) noexcept : result_(::CoInitializeEx(nullptr, model)) {}
    ~ScopedComApartment() {
        if (SUCCEEDED(result_)) ::CoUninitialize();
    }
    ScopedComApartment(const ScopedComApartment&) = delete;
    ScopedComApartment& operator=(const ScopedComApartment&) = delete;

    HRESULT Result() const noexcept { return result_; }

private:
    HRESULT result_;
};

}} // namespace stubframework::utils
