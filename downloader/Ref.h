// Holds one reference on a downloader object (a task, a callback, a logger) and gives it up when
// the holder goes, the way a COM pointer does for COM objects.
#pragma once
#include <utility>

namespace downloader {

template <typename T>
class Ref {
public:
    Ref() noexcept = default;
    // Takes over a reference the caller holds: what a Create* function or New<>() returned.
    explicit Ref(T* owned) noexcept : object_(owned) {}
    // Takes a reference of its own on an object somebody else holds.
    static Ref Share(T* object) noexcept {
        if (object) object->AddRef();
        return Ref(object);
    }
    ~Ref() { Reset(); }

    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : object_(other.Detach()) {}
    template <typename U>
    Ref(Ref<U>&& other) noexcept : object_(other.Detach()) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) Reset(other.Detach());
        return *this;
    }

    T* Get() const noexcept { return object_; }
    T* operator->() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

    T* Detach() noexcept {
        T* object = object_;
        object_ = nullptr;
        return object;
    }
    // The holder has its new value before the old reference goes: the last release runs a
    // destructor, which may reach back into whoever owns this holder.
    void Reset(T* owned = nullptr) noexcept {
        T* old = object_;
        object_ = owned;
        if (old) old->Release();
    }

private:
    T* object_ = nullptr;
};

} // namespace downloader
