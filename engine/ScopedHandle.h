// Owns a kernel handle (file, thread, process, snapshot) and closes it once.
#pragma once

#include <windows.h>

class ScopedHandle {
public:
    ScopedHandle() = default;
    explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
    ~ScopedHandle() { Close(); }

    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ScopedHandle& operator=(ScopedHandle&& other) noexcept
    {
        if (this != &other) {
            Close();
            handle_ = other.handle_;
            other.handle_ = nullptr;
        }
        return *this;
    }

    // Both null and INVALID_HANDLE_VALUE mean "no handle", whichever the API returns.
    bool IsValid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }

    // Closes now; false when there was a handle and CloseHandle failed.
    bool Close()
    {
        if (!IsValid()) {
            handle_ = nullptr;
            return true;
        }
        const BOOL ok = CloseHandle(handle_);
        handle_ = nullptr;
        return ok != FALSE;
    }

private:
    HANDLE handle_ = nullptr;
};
