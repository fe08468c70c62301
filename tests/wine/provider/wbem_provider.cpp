// A test-only stand-in for the WMI locator, loaded by Wine in place of its own wbemprox.dll.
// It serves "root\wmi" with the firmware classes "ZelvDeviceControl" and "BDat" and runs the
// method "Control" on the simulated device; everything the LED library does not use answers
// E_NOTIMPL.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>

#include <string>
#include <utility>
#include <vector>

#include "device.h"
#include "firmware_files.h"
#include "owners.h"

namespace {

constexpr wchar_t kNamespace[] = L"root\\wmi";
constexpr wchar_t kDeviceClass[] = L"ZelvDeviceControl";
constexpr wchar_t kBDatClass[] = L"BDat";
constexpr wchar_t kParametersClass[] = L"__PARAMETERS";
constexpr wchar_t kControlMethod[] = L"Control";
constexpr wchar_t kDataProperty[] = L"Data";
constexpr wchar_t kBytesProperty[] = L"Bytes";
// The instance of the first WMI-ACPI mapper device; the key holds two backslashes at each
// separator, as the object path syntax escapes them.
constexpr wchar_t kDevicePath[] = L"ZelvDeviceControl.InstanceName=\"ACPI\\\\pnp0c14\\\\0_0\"";

bool SameName(const wchar_t* a, const wchar_t* b) { return a && b && _wcsicmp(a, b) == 0; }

// Reference counting and QueryInterface for an object with one interface.
template <typename Self, typename Interface>
class ComObject : public Interface {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == __uuidof(Interface)) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = InterlockedDecrement(&references_);
        if (left == 0) delete static_cast<Self*>(this);
        return left;
    }

  protected:
    virtual ~ComObject() = default;

  private:
    LONG references_ = 1;
};

// An object that is no WMI object at all, for the firmware answer shape that holds one.
class PlainObject final : public ComObject<PlainObject, IUnknown> {};

class QualifierSet final : public ComObject<QualifierSet, IWbemQualifierSet> {
  public:
    using Entry = std::pair<std::wstring, Variant>;
    explicit QualifierSet(std::vector<Entry> entries) : entries_(std::move(entries)) {}

    // The qualifiers of "Bytes" as the configured firmware declares them; "max" comes last so
    // that a reader has to step over the others.
    static std::vector<Entry> ForBytes(const devicesim::DeviceConfig& config) {
        std::vector<Entry> entries;
        entries.emplace_back(L"CIMTYPE", Variant::Text(L"uint8"));
        entries.emplace_back(L"WmiDataId", Variant::Int32(1));
        std::wstring maxName(config.maxName.begin(), config.maxName.end());
        if (config.maxKind == devicesim::MaxQualifier::Int32)
            entries.emplace_back(maxName, Variant::Int32(config.maxValue));
        else if (config.maxKind == devicesim::MaxQualifier::OtherType)
            entries.emplace_back(maxName, Variant::Text(std::to_wstring(config.maxValue).c_str()));
        return entries;
    }

    HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG, VARIANT* value, LONG* flavor) override {
        for (const auto& [entryName, entryValue] : entries_) {
            if (!SameName(entryName.c_str(), name)) continue;
            if (flavor) *flavor = 0;
            return value ? entryValue.CopyTo(value) : S_OK;
        }
        return WBEM_E_NOT_FOUND;
    }
    HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG) override {
        position_ = 0;
        enumerating_ = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Next(LONG, BSTR* name, VARIANT* value, LONG* flavor) override {
        if (!enumerating_) return WBEM_E_UNEXPECTED;
        if (position_ == entries_.size()) return WBEM_S_NO_MORE_DATA;
        const auto& [entryName, entryValue] = entries_[position_++];
        if (name) *name = SysAllocString(entryName.c_str());
        if (flavor) *flavor = 0;
        return value ? entryValue.CopyTo(value) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE EndEnumeration() override {
        enumerating_ = false;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Put(LPCWSTR, VARIANT*, LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNames(LONG, SAFEARRAY**) override { return E_NOTIMPL; }

  private:
    std::vector<Entry> entries_;
    size_t position_ = 0;
    bool enumerating_ = false;
};

struct PropertyDeclaration {
    const wchar_t* name;
    CIMTYPE type;
};

// A WMI class or instance: a named set of declared properties with their values.
class WbemObject final : public ComObject<WbemObject, IWbemClassObject> {
  public:
    WbemObject(const wchar_t* className, std::vector<PropertyDeclaration> declarations)
        : className_(className) {
        for (const auto& declaration : declarations)
            properties_.push_back({declaration, Variant()});
    }

    static ComPtr<WbemObject> DeviceClass() {
        return ComPtr(new WbemObject(kDeviceClass,
                                     {{L"InstanceName", CIM_STRING}, {L"Active", CIM_BOOLEAN}}));
    }
    static ComPtr<WbemObject> BDatClass() {
        return ComPtr(new WbemObject(kBDatClass, {{kBytesProperty, CIM_UINT8 | CIM_FLAG_ARRAY}}));
    }
    // The in and out signatures of "Control" look alike: one embedded "BDat" called "Data".
    static ComPtr<WbemObject> ControlParameters() {
        return ComPtr(new WbemObject(kParametersClass, {{kDataProperty, CIM_OBJECT}}));
    }

    // Stores a copy of `value` in a declared property (used by the provider itself).
    HRESULT Set(const wchar_t* name, const Variant& value) {
        Property* property = Find(name);
        if (!property) return WBEM_E_NOT_FOUND;
        property->value = value;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG, VARIANT* value, CIMTYPE* type,
                                  LONG* flavor) override {
        const Property* property = Find(name);
        if (!property) return WBEM_E_NOT_FOUND;
        if (type) *type = property->declaration.type;
        if (flavor) *flavor = WBEM_FLAVOR_ORIGIN_LOCAL;
        if (!value) return S_OK;
        HRESULT result = property->value.CopyTo(value);
        // A property nobody has set reads as null, as WMI reports it.
        if (SUCCEEDED(result) && value->vt == VT_EMPTY) value->vt = VT_NULL;
        return result;
    }
    HRESULT STDMETHODCALLTYPE Put(LPCWSTR name, LONG, VARIANT* value, CIMTYPE) override {
        Property* property = Find(name);
        if (!property) return WBEM_E_NOT_FOUND;
        Variant copy;
        if (value) {
            HRESULT result = VariantCopy(copy.put(), value);
            if (FAILED(result)) return result;
        }
        property->value = copy;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR name,
                                                      IWbemQualifierSet** out) override {
        if (!out) return WBEM_E_INVALID_PARAMETER;
        *out = nullptr;
        if (!Find(name)) return WBEM_E_NOT_FOUND;
        std::vector<QualifierSet::Entry> entries;
        if (SameName(className_.c_str(), kBDatClass) && SameName(name, kBytesProperty))
            entries = QualifierSet::ForBytes(firmware_files::LoadConfig());
        *out = new QualifierSet(std::move(entries));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SpawnInstance(LONG, IWbemClassObject** out) override {
        if (!out) return WBEM_E_INVALID_PARAMETER;
        auto* instance = new WbemObject(className_.c_str(), {});
        for (const auto& property : properties_)
            instance->properties_.push_back({property.declaration, Variant()});
        *out = instance;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR name, LONG, IWbemClassObject** inSignature,
                                        IWbemClassObject** outSignature) override {
        if (!SameName(className_.c_str(), kDeviceClass) || !SameName(name, kControlMethod))
            return WBEM_E_NOT_FOUND;
        if (inSignature) *inSignature = ControlParameters().copy();
        if (outSignature) *outSignature = ControlParameters().copy();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Next(LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE EndEnumeration() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetObjectText(LONG, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SpawnDerivedClass(LONG, IWbemClassObject**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CompareTo(LONG, IWbemClassObject*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR, LONG, IWbemClassObject*,
                                        IWbemClassObject*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE NextMethod(LONG, BSTR*, IWbemClassObject**,
                                         IWbemClassObject**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR, BSTR*) override { return E_NOTIMPL; }

  private:
    struct Property {
        PropertyDeclaration declaration;
        Variant value;
    };

    Property* Find(const wchar_t* name) {
        for (auto& property : properties_)
            if (SameName(property.declaration.name, name)) return &property;
        return nullptr;
    }
    const Property* Find(const wchar_t* name) const {
        return const_cast<WbemObject*>(this)->Find(name);
    }

    std::wstring className_;
    std::vector<Property> properties_;
};

// The request bytes from the input parameters of "Control": "Data" holds a "BDat" whose
// "Bytes" is a byte array.
HRESULT ReadRequest(IWbemClassObject* inParams, std::vector<uint8_t>& request) {
    if (!inParams) return WBEM_E_INVALID_PARAMETER;
    Variant data;
    HRESULT result = inParams->Get(kDataProperty, 0, data.put(), nullptr, nullptr);
    if (FAILED(result)) return result;
    if (data.get().vt != VT_UNKNOWN || !data.get().punkVal) return WBEM_E_INVALID_PARAMETER;
    ComPtr<IWbemClassObject> bdat;
    result = data.get().punkVal->QueryInterface(IID_IWbemClassObject,
                                                reinterpret_cast<void**>(bdat.put()));
    if (FAILED(result)) return WBEM_E_INVALID_PARAMETER;
    Variant bytes;
    result = bdat->Get(kBytesProperty, 0, bytes.put(), nullptr, nullptr);
    if (FAILED(result)) return result;
    if (bytes.get().vt != (VT_ARRAY | VT_UI1)) return WBEM_E_INVALID_PARAMETER;
    SAFEARRAY* array = bytes.get().parray;
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    void* elements = nullptr;
    result = SafeArrayAccessData(array, &elements);
    if (FAILED(result)) return result;
    const auto* first = static_cast<const uint8_t*>(elements);
    request.assign(first, first + (upper - lower + 1));
    SafeArrayUnaccessData(array);
    return S_OK;
}

UniqueSafeArray MakeByteArray(const std::vector<uint8_t>& bytes) {
    UniqueSafeArray array(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size())));
    void* data = nullptr;
    if (array && SUCCEEDED(SafeArrayAccessData(array.get(), &data))) {
        std::copy(bytes.begin(), bytes.end(), static_cast<uint8_t*>(data));
        SafeArrayUnaccessData(array.get());
    }
    return array;
}

// The output parameters of "Control", shaped as the configured firmware answers.
ComPtr<WbemObject> MakeAnswer(const devicesim::DeviceConfig& config,
                              const std::vector<uint8_t>& answer) {
    ComPtr<WbemObject> outParams = WbemObject::ControlParameters();
    ComPtr<WbemObject> bdat = WbemObject::BDatClass();
    switch (config.answerShape) {
        case devicesim::AnswerShape::Bytes:
            bdat->Set(kBytesProperty, Variant::ByteArray(MakeByteArray(answer)));
            break;
        case devicesim::AnswerShape::BytesNotByteArray:
            bdat->Set(kBytesProperty, Variant::Int32(static_cast<LONG>(answer.size())));
            break;
        case devicesim::AnswerShape::DataEmpty:
            return outParams;
        case devicesim::AnswerShape::DataNotClassObject:
            outParams->Set(kDataProperty, Variant::Object(ComPtr<IUnknown>(new PlainObject).get()));
            return outParams;
    }
    outParams->Set(kDataProperty, Variant::Object(static_cast<IWbemClassObject*>(bdat.get())));
    return outParams;
}

// The connection to "root\wmi". Like the real WMI proxy it answers IClientSecurity, and it
// aggregates the free-threaded marshaler so the global interface table can hand it to any
// thread of the process.
class Services final : public ComObject<Services, IWbemServices>, public IClientSecurity {
  public:
    Services() {
        CoCreateFreeThreadedMarshaler(static_cast<IWbemServices*>(this), marshaler_.put());
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IClientSecurity) {
            *out = static_cast<IClientSecurity*>(this);
            AddRef();
            return S_OK;
        }
        if (iid == IID_IMarshal && marshaler_) return marshaler_->QueryInterface(iid, out);
        return ComObject::QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ComObject::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return ComObject::Release(); }

    // IClientSecurity: a local provider has no proxy, so every blanket is accepted.
    HRESULT STDMETHODCALLTYPE QueryBlanket(IUnknown*, DWORD*, DWORD*, OLECHAR**, DWORD*, DWORD*,
                                           void**, DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetBlanket(IUnknown*, DWORD, DWORD, OLECHAR*, DWORD, DWORD, void*,
                                         DWORD) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CopyProxy(IUnknown*, IUnknown**) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE GetObject(const BSTR path, LONG, IWbemContext*,
                                        IWbemClassObject** out, IWbemCallResult**) override {
        if (!out) return WBEM_E_INVALID_PARAMETER;
        *out = nullptr;
        devicesim::DeviceConfig config = firmware_files::LoadConfig();
        if (SameName(path, kDeviceClass) && config.deviceClassPresent) {
            *out = WbemObject::DeviceClass().copy();
        } else if (SameName(path, kBDatClass) && config.bdatClassPresent) {
            *out = WbemObject::BDatClass().copy();
        } else {
            return WBEM_E_NOT_FOUND;
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR path, const BSTR method, LONG, IWbemContext*,
                                         IWbemClassObject* inParams, IWbemClassObject** outParams,
                                         IWbemCallResult**) override {
        if (outParams) *outParams = nullptr;
        devicesim::Device device = firmware_files::LoadDevice();
        if (!device.config().deviceClassPresent || !SameName(path, kDevicePath))
            return WBEM_E_NOT_FOUND;
        if (!SameName(method, kControlMethod)) return WBEM_E_INVALID_METHOD;
        std::vector<uint8_t> request;
        HRESULT result = ReadRequest(inParams, request);
        if (FAILED(result)) return result;
        firmware_files::WaitWhileHeld();
        std::vector<uint8_t> answer = device.Execute(request);
        firmware_files::SaveLed(device);
        if (outParams)
            *outParams = static_cast<IWbemClassObject*>(MakeAnswer(device.config(), answer).copy());
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**,
                                            IWbemCallResult**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG, IWbemObjectSink**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR, LONG, IWbemContext*,
                                             IWbemObjectSink*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject*, LONG, IWbemContext*,
                                       IWbemCallResult**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject*, LONG, IWbemContext*,
                                            IWbemObjectSink*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR, LONG, IWbemContext*,
                                          IWbemCallResult**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR, LONG, IWbemContext*,
                                               IWbemObjectSink*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR, LONG, IWbemContext*,
                                              IEnumWbemClassObject**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR, LONG, IWbemContext*,
                                                   IWbemObjectSink*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject*, LONG, IWbemContext*,
                                          IWbemCallResult**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*,
                                               IWbemObjectSink*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR, LONG, IWbemContext*,
                                             IWbemCallResult**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR, LONG, IWbemContext*,
                                                  IWbemObjectSink*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR, LONG, IWbemContext*,
                                                 IEnumWbemClassObject**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*,
                                                      IWbemObjectSink*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                        IEnumWbemClassObject**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                             IWbemObjectSink*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                                    IEnumWbemClassObject**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR, const BSTR, LONG,
                                                         IWbemContext*, IWbemObjectSink*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                              IWbemClassObject*, IWbemObjectSink*) override {
        return E_NOTIMPL;
    }

  private:
    ComPtr<IUnknown> marshaler_;
};

class Locator final : public ComObject<Locator, IWbemLocator> {
  public:
    HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR path, const BSTR, const BSTR, const BSTR,
                                            LONG, const BSTR, IWbemContext*,
                                            IWbemServices** out) override {
        if (!out) return WBEM_E_INVALID_PARAMETER;
        *out = nullptr;
        if (!SameName(path, kNamespace)) return WBEM_E_INVALID_NAMESPACE;
        *out = new Services;
        return S_OK;
    }
};

class LocatorFactory final : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // The factory is a static object that lives as long as the module.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        ComPtr<Locator> locator(new Locator);
        return locator->QueryInterface(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

LocatorFactory locatorFactory;

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (clsid != CLSID_WbemLocator) return CLASS_E_CLASSNOTAVAILABLE;
    return locatorFactory.QueryInterface(iid, out);
}

// The objects hold no state worth unloading for; the module stays until the process ends.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }
