#include "zelv_device_control.h"

#include <glintlamp.h>

#include <algorithm>
#include <cstring>

namespace glintlamp {
namespace {

// The instance of the first WMI-ACPI mapper device; each separator is two backslashes.
constexpr const OLECHAR* kDevicePath = L"ZelvDeviceControl.InstanceName=\"ACPI\\\\pnp0c14\\\\0_0\"";

// The WMI codes as results (their enumeration is unsigned).
constexpr HRESULT kWbemNotFound = static_cast<HRESULT>(WBEM_E_NOT_FOUND);
constexpr HRESULT kWbemOutOfMemory = static_cast<HRESULT>(WBEM_E_OUT_OF_MEMORY);
constexpr HRESULT kWbemTypeMismatch = static_cast<HRESULT>(WBEM_E_TYPE_MISMATCH);

// The result of a call that hands back `objects` (references, or a cookie). One that reports
// success yet hands back nothing breaks its contract; it counts as a failure, so that nothing
// uses the null.
template <typename... Objects>
HRESULT Received(HRESULT hr, const Objects&... objects) {
    if (FAILED(hr)) return hr;
    return (static_cast<bool>(objects) && ...) ? hr : E_UNEXPECTED;
}

bool EqualsIgnoringAsciiCase(const OLECHAR* text, const OLECHAR* expected) {
    auto fold = [](OLECHAR c) { return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c; };
    for (; *text != 0 && *expected != 0; ++text, ++expected)
        if (fold(*text) != fold(*expected)) return false;
    return *text == *expected;
}

}  // namespace

CZelvDeviceControl::CZelvDeviceControl() {
    // An out-of-memory failure leaves through here; the registration in the global
    // interface table is the one thing a member does not give back by itself.
    try {
        initResult_ = Construct();
    } catch (...) {
        RevokeServices();
        throw;
    }
}

CZelvDeviceControl::~CZelvDeviceControl() {
    // The members then go in reverse order: the signatures, the device class, the
    // parameter objects, the BDat objects, the connection, and last the lock.
    RevokeServices();
}

void CZelvDeviceControl::RevokeServices() {
    if (!git_) return;
    if (cookie_ != 0) git_->RevokeInterfaceFromGlobal(cookie_);
    cookie_ = 0;
    git_.reset();
}

HRESULT CZelvDeviceControl::Construct() {
    HRESULT hr = Connect(services_);
    if (!services_) return hr;
    hr = Received(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IGlobalInterfaceTable, git_.put_void()),
                  git_);
    if (FAILED(hr)) return hr;
    hr = Received(git_->RegisterInterfaceInGlobal(services_.get(), IID_IWbemServices, &cookie_),
                  cookie_);
    if (FAILED(hr)) return hr;
    if (hr = LoadClasses(); FAILED(hr)) return hr;
    if (hr = SpawnInstances(); FAILED(hr)) return hr;
    // The end of the qualifier list is a success code and leaves the object ready.
    hr = GetMaxBytes(&maxBytes_);
    return hr < 0 ? hr : S_OK;
}

HRESULT CZelvDeviceControl::Connect(ComPtr<IWbemServices>& connection) {
    ComPtr<IWbemLocator> locator;
    HRESULT hr = Received(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_IWbemLocator, locator.put_void()),
                          locator);
    if (FAILED(hr)) return hr;
    ComPtr<IWbemServices> candidate;
    hr = Received(locator->ConnectServer(MakeBstr(L"root\\wmi").get(), nullptr, nullptr, nullptr, 0,
                                         nullptr, nullptr, candidate.put()),
                  candidate);
    if (FAILED(hr)) return hr;
    hr = CoSetProxyBlanket(candidate.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                           RPC_C_AUTHN_LEVEL_PKT, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    if (FAILED(hr)) return hr;
    connection = std::move(candidate);
    return hr;
}

HRESULT CZelvDeviceControl::LoadClasses() {
    HRESULT hr = Received(services_->GetObject(MakeBstr(L"ZelvDeviceControl").get(), 0, nullptr,
                                               deviceClass_.put(), nullptr),
                          deviceClass_);
    if (hr == kWbemNotFound) return LED_E_CLASS_NOT_FOUND;
    if (FAILED(hr)) return hr;
    hr = Received(
        services_->GetObject(MakeBstr(L"BDat").get(), 0, nullptr, bdatClass_.put(), nullptr),
        bdatClass_);
    if (FAILED(hr)) return hr;
    hr = Received(deviceClass_->GetMethod(MakeBstr(L"Control").get(), 0, inSignature_.put(),
                                          outSignature_.put()),
                  inSignature_, outSignature_);
    return FAILED(hr) ? hr : S_OK;
}

HRESULT CZelvDeviceControl::SpawnInstances() {
    HRESULT hr = Received(bdatClass_->SpawnInstance(0, bdatInstance_.put()), bdatInstance_);
    if (FAILED(hr)) return hr;
    hr = Received(inSignature_->SpawnInstance(0, inParams_.put()), inParams_);
    if (FAILED(hr)) return hr;
    hr = Received(outSignature_->SpawnInstance(0, outParams_.put()), outParams_);
    return FAILED(hr) ? hr : S_OK;
}

HRESULT CZelvDeviceControl::GetMaxBytes(int32_t* out) {
    if (out == nullptr) return E_POINTER;
    if (maxBytes_ != -1) {
        *out = maxBytes_;
        return S_OK;
    }
    if (initResult_ != S_OK) return initResult_;
    maxBytes_ = kDefaultMaxBytes;
    ComPtr<IWbemQualifierSet> qualifiers;
    HRESULT hr =
        Received(bdatClass_->GetPropertyQualifierSet(L"Bytes", qualifiers.put()), qualifiers);
    if (FAILED(hr)) {
        *out = kDefaultMaxBytes;
        return hr;
    }
    hr = qualifiers->BeginEnumeration(WBEM_FLAG_LOCAL_ONLY);
    if (SUCCEEDED(hr)) hr = FindMaxQualifier(qualifiers.get());
    qualifiers->EndEnumeration();
    *out = maxBytes_;
    return hr;
}

// Walks the qualifiers up to the one named "max" (in any letter case); only a 32-bit
// integer there sets the byte count. Returns the result of the last Next.
HRESULT CZelvDeviceControl::FindMaxQualifier(IWbemQualifierSet* qualifiers) {
    for (;;) {
        UniqueBstr name;
        UniqueVariant value;
        HRESULT hr = qualifiers->Next(0, name.put(), value.put(), nullptr);
        // Anything but a plain success ends the list, WBEM_S_NO_MORE_DATA included.
        if (hr != S_OK) return hr;
        if (name && EqualsIgnoringAsciiCase(name.get(), L"max")) {
            if (value.get().vt == VT_I4) maxBytes_ = value.get().lVal;
            return hr;
        }
    }
}

HRESULT CZelvDeviceControl::Exchange(LedRequestBuffer buffer) {
    // No buffer, or one without room even for the length byte.
    if (buffer.empty()) return E_POINTER;
    if (initResult_ != S_OK) return initResult_;
    CriticalSection::Lock hold(lock_);
    HRESULT hr = PutRequest(buffer);
    if (FAILED(hr)) return hr;
    UniqueVariant data;
    data.HoldObject(bdatInstance_.get());
    hr = inParams_->Put(MakeBstr(L"Data").get(), 0, data.ptr(), 0);
    if (FAILED(hr)) return hr;
    hr = ExecControl();
    if (SUCCEEDED(hr)) hr = ReadResponse(buffer);
    return hr;
}

// Sends byte 0 and the bytes it counts in an array of maxBytes elements, the rest zero.
// A length byte that reaches past the array is refused by the first element stored beyond
// its end; one that reaches past a buffer shorter than the array is E_INVALIDARG. Either
// way nothing is sent.
HRESULT CZelvDeviceControl::PutRequest(LedRequestBuffer buffer) {
    UniqueSafeArray array(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(maxBytes_)));
    if (!array) return kWbemOutOfMemory;
    for (LONG index = 0; index <= buffer[0]; ++index) {
        // Past the buffer a zero stands in, so that the array refuses an index beyond its
        // own end first.
        const auto offset = static_cast<std::size_t>(index);
        BYTE element = offset < buffer.size() ? buffer[offset] : BYTE{0};
        HRESULT hr = SafeArrayPutElement(array.get(), &index, &element);
        if (FAILED(hr)) return hr;
        if (offset >= buffer.size()) return E_INVALIDARG;
    }
    VARIANT bytes;  // a view: `array` keeps the ownership and destroys it after the Put
    VariantInit(&bytes);
    bytes.vt = VT_ARRAY | VT_UI1;
    bytes.parray = array.get();
    return bdatInstance_->Put(MakeBstr(L"Bytes").get(), 0, &bytes, 0);
}

HRESULT CZelvDeviceControl::ExecControl() {
    outParams_.reset();
    if (initResult_ != S_OK) return initResult_;
    // The connection is fetched for the calling thread, which need not be the one that
    // connected.
    ComPtr<IWbemServices> connection;
    HRESULT hr =
        Received(git_->GetInterfaceFromGlobal(cookie_, IID_IWbemServices, connection.put_void()),
                 connection);
    if (FAILED(hr)) return hr;
    // Best effort: the blanket set at connect time still covers the call if this one fails.
    CoSetProxyBlanket(connection.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                      RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    return connection->ExecMethod(MakeBstr(kDevicePath).get(), MakeBstr(L"Control").get(), 0,
                                  nullptr, inParams_.get(), outParams_.put(), nullptr);
}

// Copies the answer's length byte and the bytes it counts into `buffer`, cut to what both
// the buffer and the answer array hold: a firmware whose length byte overstates its answer
// loses nothing that exists. An answer of the wrong shape is WBEM_E_TYPE_MISMATCH.
HRESULT CZelvDeviceControl::ReadResponse(LedRequestBuffer buffer) {
    if (!outParams_) return kWbemTypeMismatch;
    UniqueVariant data;
    HRESULT hr = outParams_->Get(MakeBstr(L"Data").get(), 0, data.put(), nullptr, nullptr);
    if (FAILED(hr)) return hr;
    if (data.get().vt != VT_UNKNOWN || data.get().punkVal == nullptr) return kWbemTypeMismatch;
    ComPtr<IWbemClassObject> response;
    hr = Received(data.get().punkVal->QueryInterface(IID_IWbemClassObject, response.put_void()),
                  response);
    if (FAILED(hr)) return hr;
    UniqueVariant bytes;
    hr = response->Get(MakeBstr(L"Bytes").get(), 0, bytes.put(), nullptr, nullptr);
    // "Data" is given back once the bytes are in hand, whatever Get answered.
    data.Clear();
    if (FAILED(hr)) return hr;
    SAFEARRAY* array = bytes.get().parray;
    if (bytes.get().vt != (VT_ARRAY | VT_UI1) || array == nullptr || array->cDims != 1)
        return kWbemTypeMismatch;
    SafeArrayAccess access(array);
    if (FAILED(access.result())) return access.result();
    std::size_t available = array->rgsabound[0].cElements;
    if (available > 0) {
        if (access.bytes() == nullptr) return E_UNEXPECTED;  // "locked" with no data to read
        std::size_t count =
            std::min({std::size_t{access.bytes()[0]} + 1, buffer.size(), available});
        std::memcpy(buffer.data(), access.bytes(), count);
    }
    return access.Unaccess();
}

}  // namespace glintlamp
