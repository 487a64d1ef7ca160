// Holds one reference to a COM interface and releases it when the scope ends.
#pragma once

template <typename Interface>
class ComRef {
public:
    ComRef() = default;
    ~ComRef()
    {
        if (ptr != nullptr) {
            ptr->Release();
        }
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;

    Interface* ptr = nullptr;
};
