#pragma once
// What the stand-in's COM, OLE Automation and WMI halves share: fault sites, counted COM
// objects, owned references and deep-copied variant values.
#include <winsim/bench.h>
#include <winsim/windows.h>

#include <atomic>
#include <new>
#include <string_view>
#include <utility>

namespace winsim {

// The armed failure of `site` if a test armed one, else S_OK. A call returns it before it
// hands anything back, so an armed success code is a success with nothing handed back. A
// call that gives something back (frees, clears, unlocks, revokes) still does so and then
// reports the armed failure, so a test sees how the caller reacts without a leak the caller
// could not have prevented.
inline HRESULT ArmedFailure(const char* site) {
    uint32_t code = 0;
    return TakeFault(site, &code) ? static_cast<HRESULT>(code) : S_OK;
}

// Runs `body`, turning an exhausted heap inside the stand-in into `outOfMemory`.
template <typename Body>
HRESULT GuardHeap(HRESULT outOfMemory, Body&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return outOfMemory;
    }
}

// A block from the counted heap, or null when it has run out.
void* TryAllocate(std::size_t size);

// Counterparts of the public OLE Automation calls that pass no fault site, for the
// stand-in's own bookkeeping. Allocating ones give null when the heap has run out.
BSTR NewBstr(std::wstring_view text);
void DeleteBstr(BSTR text);
SAFEARRAY* NewVector(VARTYPE vt, LONG lowerBound, ULONG count);
SAFEARRAY* CopyArray(const SAFEARRAY* source);
HRESULT DestroyArray(SAFEARRAY* array);
HRESULT ClearVariant(VARIANT* variant);
// Deep copy: strings and arrays are duplicated, objects gain a reference.
HRESULT CopyVariant(VARIANT* destination, const VARIANT& source);

bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b);

// CoCreateInstance's factory for CLSID_WbemLocator.
HRESULT CreateWbemLocator(REFIID riid, void** object);

// What QueryInterface needs to know of an interface: its IID and the call's fault site.
struct InterfaceInfo {
    const IID& iid;
    const char* queryInterfaceSite;
};
template <typename Interface>
InterfaceInfo InfoOf();
template <>
inline InterfaceInfo InfoOf<IUnknown>() {
    return {IID_IUnknown, "IUnknown::QueryInterface"};
}
template <>
inline InterfaceInfo InfoOf<IWbemLocator>() {
    return {IID_IWbemLocator, "IWbemLocator::QueryInterface"};
}
template <>
inline InterfaceInfo InfoOf<IWbemServices>() {
    return {IID_IWbemServices, "IWbemServices::QueryInterface"};
}
template <>
inline InterfaceInfo InfoOf<IWbemClassObject>() {
    return {IID_IWbemClassObject, "IWbemClassObject::QueryInterface"};
}
template <>
inline InterfaceInfo InfoOf<IWbemQualifierSet>() {
    return {IID_IWbemQualifierSet, "IWbemQualifierSet::QueryInterface"};
}
template <>
inline InterfaceInfo InfoOf<IGlobalInterfaceTable>() {
    return {IID_IGlobalInterfaceTable, "IGlobalInterfaceTable::QueryInterface"};
}

// QueryInterface of an object that implements `Interface` alone.
template <typename Interface>
HRESULT QueryOwnInterface(Interface* self, REFIID riid, void** object) {
    const InterfaceInfo info = InfoOf<Interface>();
    if (HRESULT hr = ArmedFailure(info.queryInterfaceSite)) return hr;
    if (object == nullptr) return E_POINTER;
    if (riid != IID_IUnknown && riid != info.iid) {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    self->AddRef();
    *object = self;
    return S_OK;
}

// A reference-counted COM object implementing one interface; counted as a live object and
// each of its references as a live reference.
template <typename Interface>
class ComObject : public Interface {
  public:
    ComObject() {
        CountLive(Resource::ComObject, +1);
        CountLive(Resource::ComReference, +1);
    }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;
    // References left here are those of an object whose construction failed.
    virtual ~ComObject() {
        CountLive(Resource::ComObject, -1);
        CountLive(Resource::ComReference, -static_cast<int>(references_.load()));
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        return QueryOwnInterface<Interface>(this, riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        CountLive(Resource::ComReference, +1);
        return ++references_;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        CountLive(Resource::ComReference, -1);
        ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

  private:
    std::atomic<ULONG> references_{1};
};

// Owns one reference on a COM object of the stand-in.
template <typename T>
class Ref {
  public:
    Ref() = default;
    explicit Ref(T* adopted) : object_(adopted) {}
    Ref(const Ref& other) : object_(other.object_) {
        if (object_) object_->AddRef();
    }
    Ref(Ref&& other) noexcept : object_(other.detach()) {}
    Ref& operator=(Ref other) {
        std::swap(object_, other.object_);
        return *this;
    }
    ~Ref() {
        if (object_) object_->Release();
    }
    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // Hands the reference to the caller.
    T* detach() { return std::exchange(object_, nullptr); }

  private:
    T* object_ = nullptr;
};

// A variant value owned by the stand-in; copies are deep and throw std::bad_alloc when the
// heap runs out.
class Value {
  public:
    Value() { variant_.vt = VT_NULL; }
    explicit Value(const VARIANT& source);
    Value(const Value& other) : Value(other.variant_) {}
    Value& operator=(const Value& other);
    ~Value() { ClearVariant(&variant_); }

    static Value Int(LONG value);
    static Value String(std::wstring_view text);
    static Value Bytes(const uint8_t* bytes, std::size_t count);
    static Value Object(IUnknown* object);  // takes a reference of its own

    const VARIANT& get() const { return variant_; }

  private:
    VARIANT variant_{};
};

}  // namespace winsim
