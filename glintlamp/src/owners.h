#pragma once
// Owners for what the library takes from COM and OLE Automation: interface references,
// system strings, variants, safe arrays and their data access.
#include <platform.h>
#include <unique_resource.h>

#include <new>
#include <utility>

namespace glintlamp {

// Owns one reference on a COM interface; storing a new one releases the old one.
template <typename T>
class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        reset(std::exchange(other.pointer_, nullptr));
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }

    T* get() const { return pointer_; }
    T* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

    void reset(T* adopted = nullptr) {
        if (T* old = std::exchange(pointer_, adopted)) old->Release();
    }
    // Releases what is held and returns the slot for an out-parameter.
    T** put() {
        reset();
        return &pointer_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }

  private:
    T* pointer_ = nullptr;
};

inline void FreeBstr(BSTR text) { SysFreeString(text); }
inline void FreeSafeArray(SAFEARRAY* array) { SafeArrayDestroy(array); }

using UniqueBstr = UniqueResource<BSTR, FreeBstr>;
using UniqueSafeArray = UniqueResource<SAFEARRAY*, FreeSafeArray>;

// A system string for one call. A string that cannot be had is an out-of-memory failure.
inline UniqueBstr MakeBstr(const OLECHAR* text) {
    UniqueBstr result(SysAllocString(text));
    if (!result) throw std::bad_alloc();
    return result;
}

// A variant that clears (releasing what it holds) when it goes out of scope.
class UniqueVariant {
  public:
    UniqueVariant() { VariantInit(&variant_); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;
    ~UniqueVariant() { VariantClear(&variant_); }

    // Holds `object` with a reference of its own.
    void HoldObject(IUnknown* object) {
        VARIANT* slot = put();
        object->AddRef();
        slot->vt = VT_UNKNOWN;
        slot->punkVal = object;
    }

    const VARIANT& get() const { return variant_; }
    VARIANT* ptr() { return &variant_; }
    // Releases what is held; the variant is then empty.
    void Clear() { VariantClear(&variant_); }
    // Clears what is held and returns the variant for an out-parameter.
    VARIANT* put() {
        Clear();
        return &variant_;
    }

  private:
    VARIANT variant_;
};

// Holds a safe array's data locked for direct access; unlocks on scope exit unless Unaccess
// already did.
class SafeArrayAccess {
  public:
    explicit SafeArrayAccess(SAFEARRAY* array)
        : array_(array), result_(SafeArrayAccessData(array, &data_)) {}
    SafeArrayAccess(const SafeArrayAccess&) = delete;
    SafeArrayAccess& operator=(const SafeArrayAccess&) = delete;
    ~SafeArrayAccess() { Unaccess(); }

    HRESULT result() const { return result_; }
    const BYTE* bytes() const { return static_cast<const BYTE*>(data_); }
    HRESULT Unaccess() {
        if (FAILED(result_) || array_ == nullptr) return S_OK;
        return SafeArrayUnaccessData(std::exchange(array_, nullptr));
    }

  private:
    SAFEARRAY* array_;
    void* data_ = nullptr;
    HRESULT result_;
};

}  // namespace glintlamp
