// Holders for the COM resources that COM pointers do not cover: BSTR, VARIANT and task memory.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <memory>
#include <string>

namespace stubframework { namespace utils {

class ScopedBstr {
public:
    ScopedBstr() noexcept = default;
    explicit ScopedBstr(const std::wstring& text)
        : value_(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~ScopedBstr() { Reset(); }
    ScopedBstr(const ScopedBstr&) = delete;
    ScopedBstr& operator=(const ScopedBstr&) = delete;

    BSTR Get() const noexcept { return value_; }
    // For out-parameters: frees the held text first.
    BSTR* Receive() noexcept { Reset(); return &value_; }
    BSTR Detach() noexcept { BSTR v = value_; value_ = nullptr; return v; }
    void Reset(BSTR value = nullptr) noexcept {
        if (value_) ::SysFreeString(value_);
        value_ = value;
    }
    // A null BSTR is the empty text.
    std::wstring Text() const { return value_ ? std::wstring(value_, ::SysStringLen(value_)) : std::wstring(); }

private:
    BSTR value_ = nullptr;
};

class ScopedVariant {
public:
    ScopedVariant() noexcept { ::VariantInit(&value_); }
    ~ScopedVariant() { ::VariantClear(&value_); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;

    const VARIANT& Get() const noexcept { return value_; }
    VARIANT* Ptr() noexcept { return &value_; }
    // For out-parameters: clears the held value first.
    VARIANT* Receive() noexcept { Reset(); return &value_; }
    void Reset() noexcept { ::VariantClear(&value_); }
    // Takes over a value the caller owns.
    void Attach(const VARIANT& value) noexcept { Reset(); value_ = value; }
    VARIANT Detach() noexcept { VARIANT v = value_; ::VariantInit(&value_); return v; }
    HRESULT CopyFrom(const VARIANT& source) noexcept {
        Reset();
        return ::VariantCopy(&value_, const_cast<VARIANT*>(&source));
    }

private:
    VARIANT value_;
};

// Text that the callee allocated with CoTaskMemAlloc.
struct TaskMemFree {
    void operator()(wchar_t* text) const { ::CoTaskMemFree(text); }
};
using TaskMemText = std::unique_ptr<wchar_t, TaskMemFree>;

}} // namespace stubframework::utils
