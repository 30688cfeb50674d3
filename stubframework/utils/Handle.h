// One RAII holder for every kind of Win32 resource; each kind is a traits struct.
#pragma once
#include <windows.h>
#include <utility>

namespace stubframework { namespace utils {

template <typename Traits>
class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() noexcept : value_(Traits::Invalid()) {}
    explicit UniqueHandle(Type value) noexcept : value_(value) {}
    ~UniqueHandle() { Reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.Detach()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) Reset(other.Detach());
        return *this;
    }

    Type Get() const noexcept { return value_; }
    bool IsValid() const noexcept { return value_ != Traits::Invalid(); }
    explicit operator bool() const noexcept { return IsValid(); }

    // For APIs that return the resource through an out-parameter.
    Type* Receive() noexcept { Reset(); return &value_; }

    Type Detach() noexcept { Type v = value_; value_ = Traits::Invalid(); return v; }
    void Reset(Type value = Traits::Invalid()) noexcept {
        if (value_ != Traits::Invalid()) Traits::Close(value_);
        value_ = value;
    }

private:
    Type value_;
};

struct KernelHandleTraits {      // NULL means "none": processes, threads, events, mutexes
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};
struct FileHandleTraits {        // INVALID_HANDLE_VALUE means "none": CreateFileW
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};
struct FindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::FindClose(h); }
};
struct RegKeyTraits {
    using Type = HKEY;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::RegCloseKey(h); }
};
struct ModuleTraits {
    using Type = HMODULE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::FreeLibrary(h); }
};
struct LocalMemoryTraits {       // memory the system hands out with LocalAlloc (CommandLineToArgvW)
    using Type = HLOCAL;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::LocalFree(h); }
};

struct GlobalMemoryTraits {      // memory the system hands out with GlobalAlloc (the proxy settings)
    using Type = HGLOBAL;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::GlobalFree(h); }
};

using ScopedHandle = UniqueHandle<KernelHandleTraits>;
using ScopedFileHandle = UniqueHandle<FileHandleTraits>;
using ScopedFindHandle = UniqueHandle<FindHandleTraits>;
using ScopedRegKey = UniqueHandle<RegKeyTraits>;
using ScopedModule = UniqueHandle<ModuleTraits>;
using ScopedLocalMemory = UniqueHandle<LocalMemoryTraits>;
using ScopedGlobalMemory = UniqueHandle<GlobalMemoryTraits>;

// A critical section and its scoped lock.
class CriticalSection {
public:
    CriticalSection() noexcept { ::InitializeCriticalSection(&cs_); }
    ~CriticalSection() { ::DeleteCriticalSection(&cs_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    void Enter() noexcept { ::EnterCriticalSection(&cs_); }
    void Leave() noexcept { ::LeaveCriticalSection(&cs_); }
private:
    CRITICAL_SECTION cs_;
};

class ScopedLock {
public:
    explicit ScopedLock(CriticalSection& cs) noexcept : cs_(cs) { cs_.Enter(); }
    ~ScopedLock() { cs_.Leave(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;
private:
    CriticalSection& cs_;
};

}} // namespace stubframework::utils
