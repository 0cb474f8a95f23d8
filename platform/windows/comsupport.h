#pragma once
// Ownership of COM apartments, interface pointers, BSTRs and SAFEARRAYs.

#include "platform/windows/wintext.h"

#include <string>
#include <string_view>
#include <utility>
#include <windows.h>

#include <oleauto.h>

namespace vek::platform::win {

// Joins the calling thread to COM and leaves it as it was found: a thread
// already in another apartment keeps it and is not uninitialised.
class ComApartment {
public:
    explicit ComApartment(DWORD model)
        : result_(CoInitializeEx(nullptr, model))
    {
    }
    ~ComApartment()
    {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }
    ComApartment(const ComApartment &) = delete;
    ComApartment &operator=(const ComApartment &) = delete;

    bool usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT result_;
};

template <typename T> class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { reset(); }
    ComPtr(ComPtr &&other) noexcept
        : pointer_(std::exchange(other.pointer_, nullptr))
    {
    }
    ComPtr(const ComPtr &) = delete;
    ComPtr &operator=(const ComPtr &) = delete;

    T *get() const { return pointer_; }
    T *operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    void **receive()
    {
        reset();
        return reinterpret_cast<void **>(&pointer_);
    }
    void reset()
    {
        if (pointer_ != nullptr)
            std::exchange(pointer_, nullptr)->Release();
    }

private:
    T *pointer_ = nullptr;
};

// Creates an in-process object; empty on failure.
template <typename T> ComPtr<T> CreateInProcess(const CLSID &classId, const IID &interfaceId)
{
    ComPtr<T> object;
    if (FAILED(CoCreateInstance(
            classId, nullptr, CLSCTX_INPROC_SERVER, interfaceId, object.receive())))
        object.reset();
    return object;
}

class Bstr {
public:
    explicit Bstr(BSTR text = nullptr)
        : text_(text)
    {
    }
    ~Bstr() { SysFreeString(text_); }
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;

    BSTR get() const { return text_; }
    std::string utf8() const { return Utf8(text_); }

    // A BSTR may hold NUL characters; its length is stored with it.
    static std::string Utf8(BSTR text)
    {
        return text == nullptr ? std::string()
                               : ToUtf8(std::wstring_view(text, SysStringLen(text)));
    }

private:
    BSTR text_;
};

class SafeArray {
public:
    explicit SafeArray(SAFEARRAY *array)
        : array_(array)
    {
    }
    ~SafeArray()
    {
        if (array_ != nullptr)
            SafeArrayDestroy(array_);
    }
    SafeArray(const SafeArray &) = delete;
    SafeArray &operator=(const SafeArray &) = delete;

    SAFEARRAY *get() const { return array_; }

private:
    SAFEARRAY *array_;
};

// Locks a safe array's elements for direct reading while in scope.
class SafeArrayData {
public:
    explicit SafeArrayData(SAFEARRAY *array)
        : array_(array)
    {
        if (FAILED(SafeArrayAccessData(array_, &data_)))
            data_ = nullptr;
    }
    ~SafeArrayData()
    {
        if (data_ != nullptr)
            SafeArrayUnaccessData(array_);
    }
    SafeArrayData(const SafeArrayData &) = delete;
    SafeArrayData &operator=(const SafeArrayData &) = delete;

    void *get() const { return data_; }

private:
    SAFEARRAY *array_;
    void *data_ = nullptr;
};

}  // namespace vek::platform::win
