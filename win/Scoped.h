// Owns one system resource and releases it once: a handle, an internet
// handle, a CryptoAPI key... Each kind says in a small traits struct what its
// handle type is, which values mean "none" and how it is released.
#pragma once

template <typename Traits>
class Scoped {
public:
    using Handle = typename Traits::Handle;

    Scoped() = default;
    explicit Scoped(Handle handle) : handle_(handle) {}
    ~Scoped() { Close(); }

    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;
    Scoped(Scoped&& other) noexcept : handle_(other.handle_) { other.handle_ = Traits::None(); }
    Scoped& operator=(Scoped&& other) noexcept
    {
        if (this != &other) {
            Close();
            handle_ = other.handle_;
            other.handle_ = Traits::None();
        }
        return *this;
    }

    bool IsValid() const { return Traits::IsValid(handle_); }
    explicit operator bool() const { return IsValid(); }
    Handle Get() const { return handle_; }

    // For a call that hands out a new handle through a pointer.
    Handle* Receive()
    {
        Close();
        return &handle_;
    }

    // Releases it now; false when there was one and releasing it failed.
    bool Close()
    {
        const Handle handle = handle_;
        handle_ = Traits::None();
        return !Traits::IsValid(handle) || Traits::Release(handle);
    }

private:
    Handle handle_ = Traits::None();
};
