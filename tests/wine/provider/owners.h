#pragma once
// Owners for the COM references, strings and variants the test-only firmware provider
// hands around.
#include <windows.h>
#include <oleauto.h>

#include <utility>

#include "unique_resource.h"

template <typename T>
class ComPtr {
  public:
    ComPtr() = default;
    // Takes over a reference the caller already owns.
    explicit ComPtr(T* owned) : ptr_(owned) {}
    ComPtr(const ComPtr& other) : ptr_(other.ptr_) {
        if (ptr_) ptr_->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(ptr_, other.ptr_);
        return *this;
    }
    ~ComPtr() {
        if (ptr_) ptr_->Release();
    }

    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    T** put() {
        *this = ComPtr();
        return &ptr_;
    }
    // Gives the caller its own reference, as an out-parameter wants it.
    T* copy() const {
        if (ptr_) ptr_->AddRef();
        return ptr_;
    }

  private:
    T* ptr_ = nullptr;
};

inline void CloseBstr(BSTR text) { SysFreeString(text); }
using UniqueBstr = UniqueResource<BSTR, CloseBstr>;

inline void DestroySafeArray(SAFEARRAY* array) { SafeArrayDestroy(array); }
using UniqueSafeArray = UniqueResource<SAFEARRAY*, DestroySafeArray>;

// A VARIANT that is cleared when it goes out of scope; copies deep-copy.
class Variant {
  public:
    Variant() { VariantInit(&value_); }
    Variant(const Variant& other) : Variant() { VariantCopy(&value_, other.source()); }
    Variant& operator=(const Variant& other) {
        if (this != &other) VariantCopy(&value_, other.source());
        return *this;
    }
    ~Variant() { VariantClear(&value_); }

    static Variant Int32(LONG number) {
        Variant variant;
        variant.value_.vt = VT_I4;
        variant.value_.lVal = number;
        return variant;
    }
    static Variant Text(const wchar_t* text) {
        Variant variant;
        variant.value_.vt = VT_BSTR;
        variant.value_.bstrVal = SysAllocString(text);
        return variant;
    }
    // Holds its own reference to `object`.
    static Variant Object(IUnknown* object) {
        Variant variant;
        variant.value_.vt = VT_UNKNOWN;
        variant.value_.punkVal = object;
        object->AddRef();
        return variant;
    }
    static Variant ByteArray(UniqueSafeArray array) {
        Variant variant;
        variant.value_.vt = VT_ARRAY | VT_UI1;
        variant.value_.parray = array.release();
        return variant;
    }

    const VARIANT& get() const { return value_; }
    // Clears what is held and returns the slot for an out-parameter.
    VARIANT* put() {
        VariantClear(&value_);
        return &value_;
    }
    HRESULT CopyTo(VARIANT* out) const {
        VariantInit(out);
        return VariantCopy(out, source());
    }

  private:
    // VariantCopy only reads its source, though its declaration does not say so.
    VARIANT* source() const { return const_cast<VARIANT*>(&value_); }

    VARIANT value_;
};
