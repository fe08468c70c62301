// OLE Automation: system strings, safe arrays and variants.
#include <cstring>
#include <cwctype>

#include "com_internal.h"

namespace winsim {
namespace {

// A system string is preceded by its length in bytes, as a 32-bit count.
using BstrPrefix = uint32_t;

BstrPrefix* PrefixOf(BSTR text) { return reinterpret_cast<BstrPrefix*>(text) - 1; }

// The element sizes of the array types the stand-in serves.
ULONG ElementSize(VARTYPE vt) {
    switch (vt) {
        case VT_UI1:
            return 1;
        case VT_I4:
            return 4;
        default:
            return 0;
    }
}

}  // namespace

void* TryAllocate(std::size_t size) {
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

BSTR NewBstr(std::wstring_view text) {
    void* block = TryAllocate(sizeof(BstrPrefix) + (text.size() + 1) * sizeof(OLECHAR));
    if (block == nullptr) return nullptr;
    auto* prefix = static_cast<BstrPrefix*>(block);
    *prefix = static_cast<BstrPrefix>(text.size() * sizeof(OLECHAR));
    BSTR chars = reinterpret_cast<BSTR>(prefix + 1);
    std::wmemcpy(chars, text.data(), text.size());
    chars[text.size()] = L'\0';
    CountLive(Resource::Bstr, +1);
    return chars;
}

void DeleteBstr(BSTR text) {
    if (text == nullptr) return;
    CountLive(Resource::Bstr, -1);
    ::operator delete(PrefixOf(text));
}

SAFEARRAY* NewVector(VARTYPE vt, LONG lowerBound, ULONG count) {
    ULONG size = ElementSize(vt);
    if (size == 0) return nullptr;
    void* data = TryAllocate(std::size_t{count} * size);
    if (data == nullptr) return nullptr;
    auto* array = static_cast<SAFEARRAY*>(TryAllocate(sizeof(SAFEARRAY)));
    if (array == nullptr) {
        ::operator delete(data);
        return nullptr;
    }
    std::memset(data, 0, std::size_t{count} * size);
    *array = SAFEARRAY{1, 0, size, 0, data, {{count, lowerBound}}};
    CountLive(Resource::SafeArray, +1);
    return array;
}

SAFEARRAY* CopyArray(const SAFEARRAY* source) {
    VARTYPE vt = source->cbElements == 1 ? VT_UI1 : VT_I4;
    SAFEARRAY* copy = NewVector(vt, source->rgsabound[0].lLbound, source->rgsabound[0].cElements);
    if (copy != nullptr)
        std::memcpy(copy->pvData, source->pvData,
                    std::size_t{source->rgsabound[0].cElements} * source->cbElements);
    return copy;
}

HRESULT DestroyArray(SAFEARRAY* array) {
    if (array == nullptr) return S_OK;
    if (array->cLocks > 0) return DISP_E_ARRAYISLOCKED;
    CountLive(Resource::SafeArray, -1);
    ::operator delete(array->pvData);
    ::operator delete(array);
    return S_OK;
}

HRESULT ClearVariant(VARIANT* variant) {
    switch (variant->vt) {
        case VT_BSTR:
            DeleteBstr(variant->bstrVal);
            break;
        case VT_UNKNOWN:
        case VT_DISPATCH:
            if (variant->punkVal != nullptr) variant->punkVal->Release();
            break;
        default:
            if ((variant->vt & VT_ARRAY) != 0 && (variant->vt & VT_BYREF) == 0) {
                if (HRESULT hr = DestroyArray(variant->parray); FAILED(hr)) return hr;
            }
            break;
    }
    variant->vt = VT_EMPTY;
    return S_OK;
}

HRESULT CopyVariant(VARIANT* destination, const VARIANT& source) {
    VARIANT copy = source;
    switch (source.vt) {
        case VT_BSTR:
            if (source.bstrVal != nullptr) {
                copy.bstrVal = NewBstr({source.bstrVal, SysStringLen(source.bstrVal)});
                if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
            }
            break;
        case VT_UNKNOWN:
        case VT_DISPATCH:
            if (source.punkVal != nullptr) source.punkVal->AddRef();
            break;
        default:
            if ((source.vt & VT_ARRAY) != 0 && (source.vt & VT_BYREF) == 0 &&
                source.parray != nullptr) {
                copy.parray = CopyArray(source.parray);
                if (copy.parray == nullptr) return E_OUTOFMEMORY;
            }
            break;
    }
    *destination = copy;
    return S_OK;
}

bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::towlower(a[i]) != std::towlower(b[i])) return false;
    return true;
}

Value::Value(const VARIANT& source) {
    if (FAILED(CopyVariant(&variant_, source))) throw std::bad_alloc();
}

Value& Value::operator=(const Value& other) {
    Value copy(other);
    std::swap(variant_, copy.variant_);
    return *this;
}

Value Value::Int(LONG value) {
    Value result;
    result.variant_.vt = VT_I4;
    result.variant_.lVal = value;
    return result;
}

Value Value::String(std::wstring_view text) {
    Value result;
    result.variant_.bstrVal = NewBstr(text);
    if (result.variant_.bstrVal == nullptr) throw std::bad_alloc();
    result.variant_.vt = VT_BSTR;
    return result;
}

Value Value::Bytes(const uint8_t* bytes, std::size_t count) {
    Value result;
    result.variant_.parray = NewVector(VT_UI1, 0, static_cast<ULONG>(count));
    if (result.variant_.parray == nullptr) throw std::bad_alloc();
    result.variant_.vt = VT_ARRAY | VT_UI1;
    if (count > 0) std::memcpy(result.variant_.parray->pvData, bytes, count);
    return result;
}

Value Value::Object(IUnknown* object) {
    Value result;
    object->AddRef();
    result.variant_.vt = VT_UNKNOWN;
    result.variant_.punkVal = object;
    return result;
}

}  // namespace winsim

using winsim::ArmedFailure;

extern "C" BSTR SysAllocString(const OLECHAR* psz) {
    if (ArmedFailure("SysAllocString") != S_OK || psz == nullptr) return nullptr;
    return winsim::NewBstr(psz);
}

extern "C" void SysFreeString(BSTR bstrString) {
    winsim::CountCall("SysFreeString");
    winsim::DeleteBstr(bstrString);
}

extern "C" UINT SysStringLen(BSTR pbstr) {
    if (pbstr == nullptr) return 0;
    return *winsim::PrefixOf(pbstr) / sizeof(OLECHAR);
}

extern "C" SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
    if (ArmedFailure("SafeArrayCreateVector") != S_OK) return nullptr;
    return winsim::NewVector(vt, lLbound, cElements);
}

extern "C" HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    if (HRESULT hr = ArmedFailure("SafeArrayPutElement")) return hr;
    if (psa == nullptr || rgIndices == nullptr || pv == nullptr) return E_INVALIDARG;
    // The index is checked before `pv` is read: a caller may point one past its own data.
    int64_t offset = int64_t{rgIndices[0]} - psa->rgsabound[0].lLbound;
    if (offset < 0 || offset >= int64_t{psa->rgsabound[0].cElements}) return DISP_E_BADINDEX;
    std::memcpy(static_cast<BYTE*>(psa->pvData) + offset * psa->cbElements, pv, psa->cbElements);
    return S_OK;
}

extern "C" HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
    if (HRESULT hr = ArmedFailure("SafeArrayAccessData")) return hr;
    if (psa == nullptr || ppvData == nullptr) return E_INVALIDARG;
    ++psa->cLocks;
    *ppvData = psa->pvData;
    return S_OK;
}

extern "C" HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) {
    HRESULT armed = ArmedFailure("SafeArrayUnaccessData");
    if (psa == nullptr) return E_INVALIDARG;
    if (psa->cLocks == 0) return E_UNEXPECTED;
    --psa->cLocks;
    return armed;
}

extern "C" HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
    HRESULT armed = ArmedFailure("SafeArrayDestroy");
    HRESULT hr = winsim::DestroyArray(psa);
    return FAILED(hr) ? hr : armed;
}

extern "C" void VariantInit(VARIANTARG* pvarg) {
    winsim::CountCall("VariantInit");
    pvarg->vt = VT_EMPTY;
}

extern "C" HRESULT VariantClear(VARIANTARG* pvarg) {
    HRESULT armed = ArmedFailure("VariantClear");
    if (pvarg == nullptr) return E_INVALIDARG;
    HRESULT hr = winsim::ClearVariant(pvarg);
    return FAILED(hr) ? hr : armed;
}
