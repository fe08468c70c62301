// WMI's namespace "root\wmi" as the simulated firmware shows it: the class "ZelvDeviceControl"
// with its method "Control", and the embedded-object class "BDat" whose "Bytes" carries the
// request and the answer.
#include <winsim/firmware.h>

#include <string>
#include <vector>

#include "com_internal.h"

namespace winsim {
namespace {

constexpr std::wstring_view kNamespace = L"root\\wmi";
constexpr std::wstring_view kDeviceClass = L"ZelvDeviceControl";
constexpr std::wstring_view kBufferClass = L"BDat";
constexpr std::wstring_view kParametersClass = L"__PARAMETERS";
constexpr std::wstring_view kMethod = L"Control";
constexpr std::wstring_view kDataProperty = L"Data";
constexpr std::wstring_view kBytesProperty = L"Bytes";
// The instance of the first WMI-ACPI mapper device; each separator is two backslashes.
constexpr std::wstring_view kDevicePath =
    L"ZelvDeviceControl.InstanceName=\"ACPI\\\\pnp0c14\\\\0_0\"";

devicesim::Device& TheDevice() {
    static devicesim::Device device;
    return device;
}

std::wstring Widen(std::string_view text) { return std::wstring(text.begin(), text.end()); }

using Qualifiers = std::vector<std::pair<std::wstring, Value>>;

struct Property {
    std::wstring name;
    VARTYPE declaredType;
    Value value;
    Qualifiers qualifiers;
};

class QualifierSet final : public ComObject<IWbemQualifierSet> {
  public:
    explicit QualifierSet(Qualifiers entries) : entries_(std::move(entries)) {}

    HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG lFlags) override {
        if (HRESULT hr = ArmedFailure("IWbemQualifierSet::BeginEnumeration")) return hr;
        if (lFlags != 0 && lFlags != WBEM_FLAG_LOCAL_ONLY && lFlags != WBEM_FLAG_PROPAGATED_ONLY)
            return WBEM_E_INVALID_PARAMETER;
        next_ = 0;
        enumerating_ = true;
        return WBEM_S_NO_ERROR;
    }
    HRESULT STDMETHODCALLTYPE Next(LONG lFlags, BSTR* pstrName, VARIANT* pVal,
                                   LONG* plFlavor) override {
        if (HRESULT hr = ArmedFailure("IWbemQualifierSet::Next")) return hr;
        if (lFlags != 0) return WBEM_E_INVALID_PARAMETER;
        if (!enumerating_) return WBEM_E_UNEXPECTED;
        if (next_ == entries_.size()) return WBEM_S_NO_MORE_DATA;
        const auto& [name, value] = entries_[next_];
        BSTR nameCopy = nullptr;
        if (pstrName != nullptr && (nameCopy = NewBstr(name)) == nullptr)
            return WBEM_E_OUT_OF_MEMORY;
        if (pVal != nullptr && FAILED(CopyVariant(pVal, value.get()))) {
            DeleteBstr(nameCopy);
            return WBEM_E_OUT_OF_MEMORY;
        }
        if (pstrName != nullptr) *pstrName = nameCopy;
        if (plFlavor != nullptr) *plFlavor = 0;
        ++next_;
        return WBEM_S_NO_ERROR;
    }
    HRESULT STDMETHODCALLTYPE EndEnumeration() override {
        HRESULT armed = ArmedFailure("IWbemQualifierSet::EndEnumeration");
        enumerating_ = false;
        return armed;
    }

  private:
    Qualifiers entries_;
    std::size_t next_ = 0;
    bool enumerating_ = false;
};

// A class or an instance: named properties with declared types, values and qualifiers, and
// (for a class) methods with their parameter classes.
class ClassObject final : public ComObject<IWbemClassObject> {
  public:
    ClassObject(std::wstring_view className, bool isClass)
        : className_(className), isClass_(isClass) {}

    Property& AddProperty(std::wstring_view name, VARTYPE declaredType) {
        return properties_.emplace_back(Property{std::wstring(name), declaredType, {}, {}});
    }
    void AddMethod(std::wstring_view name, Ref<ClassObject> in, Ref<ClassObject> out) {
        methods_.push_back(Method{std::wstring(name), std::move(in), std::move(out)});
    }
    Property* Find(std::wstring_view name) {
        for (auto& property : properties_)
            if (EqualsIgnoringCase(property.name, name)) return &property;
        return nullptr;
    }
    bool IsA(std::wstring_view className) const {
        return EqualsIgnoringCase(className_, className);
    }

    HRESULT STDMETHODCALLTYPE Get(LPCWSTR wszName, LONG, VARIANT* pVal, CIMTYPE* pType,
                                  LONG* plFlavor) override {
        if (HRESULT hr = ArmedFailure("IWbemClassObject::Get")) return hr;
        if (wszName == nullptr) return WBEM_E_INVALID_PARAMETER;
        Property* property = Find(wszName);
        if (property == nullptr) return WBEM_E_NOT_FOUND;
        // The caller gets a copy of its own: a new string or array, a new object reference.
        if (pVal != nullptr && FAILED(CopyVariant(pVal, property->value.get())))
            return WBEM_E_OUT_OF_MEMORY;
        // CIM type numbers match the variant types they are carried in.
        if (pType != nullptr) *pType = property->declaredType;
        if (plFlavor != nullptr) *plFlavor = 0;
        return WBEM_S_NO_ERROR;
    }
    HRESULT STDMETHODCALLTYPE Put(LPCWSTR wszName, LONG, VARIANT* pVal, CIMTYPE) override {
        if (HRESULT hr = ArmedFailure("IWbemClassObject::Put")) return hr;
        if (wszName == nullptr) return WBEM_E_INVALID_PARAMETER;
        Property* property = Find(wszName);
        if (property == nullptr) return WBEM_E_NOT_FOUND;
        bool empty = pVal == nullptr || pVal->vt == VT_EMPTY || pVal->vt == VT_NULL;
        if (!empty && pVal->vt != property->declaredType) return WBEM_E_TYPE_MISMATCH;
        // The object keeps a copy; the caller still owns what it passed.
        return GuardHeap(WBEM_E_OUT_OF_MEMORY, [&] {
            property->value = empty ? Value() : Value(*pVal);
            return WBEM_S_NO_ERROR;
        });
    }
    HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR wszProperty,
                                                      IWbemQualifierSet** ppQualSet) override {
        if (HRESULT hr = ArmedFailure("IWbemClassObject::GetPropertyQualifierSet")) return hr;
        if (wszProperty == nullptr || ppQualSet == nullptr) return WBEM_E_INVALID_PARAMETER;
        *ppQualSet = nullptr;
        Property* property = Find(wszProperty);
        if (property == nullptr) return WBEM_E_NOT_FOUND;
        return GuardHeap(WBEM_E_OUT_OF_MEMORY, [&] {
            *ppQualSet = new QualifierSet(property->qualifiers);
            return WBEM_S_NO_ERROR;
        });
    }
    HRESULT STDMETHODCALLTYPE SpawnInstance(LONG lFlags,
                                            IWbemClassObject** ppNewInstance) override {
        if (HRESULT hr = ArmedFailure("IWbemClassObject::SpawnInstance")) return hr;
        if (lFlags != 0 || ppNewInstance == nullptr) return WBEM_E_INVALID_PARAMETER;
        *ppNewInstance = nullptr;
        if (!isClass_) return WBEM_E_INVALID_OPERATION;
        return GuardHeap(WBEM_E_OUT_OF_MEMORY, [&] {
            *ppNewInstance = Spawn().detach();
            return WBEM_S_NO_ERROR;
        });
    }
    // An instance with the class's properties and their default values.
    Ref<ClassObject> Spawn() const {
        Ref<ClassObject> instance(new ClassObject(className_, false));
        instance->properties_ = properties_;
        return instance;
    }
    HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR wszName, LONG lFlags,
                                        IWbemClassObject** ppInSignature,
                                        IWbemClassObject** ppOutSignature) override {
        if (HRESULT hr = ArmedFailure("IWbemClassObject::GetMethod")) return hr;
        if (wszName == nullptr || lFlags != 0) return WBEM_E_INVALID_PARAMETER;
        for (const Method& method : methods_) {
            if (!EqualsIgnoringCase(method.name, wszName)) continue;
            if (ppInSignature != nullptr) *ppInSignature = Ref(method.in).detach();
            if (ppOutSignature != nullptr) *ppOutSignature = Ref(method.out).detach();
            return WBEM_S_NO_ERROR;
        }
        return WBEM_E_NOT_FOUND;
    }

  private:
    struct Method {
        std::wstring name;
        Ref<ClassObject> in, out;
    };
    std::wstring className_;
    bool isClass_;
    std::vector<Property> properties_;
    std::vector<Method> methods_;
};

// An object that is no WMI class object, for a firmware that answers with the wrong thing.
class ForeignObject final : public ComObject<IUnknown> {};

Ref<ClassObject> MakeParametersClass() {
    Ref<ClassObject> parameters(new ClassObject(kParametersClass, true));
    parameters->AddProperty(kDataProperty, VT_UNKNOWN);
    return parameters;
}

Ref<ClassObject> MakeDeviceClass() {
    Ref<ClassObject> device(new ClassObject(kDeviceClass, true));
    device->AddProperty(L"InstanceName", VT_BSTR);
    device->AddMethod(kMethod, MakeParametersClass(), MakeParametersClass());
    return device;
}

// "Bytes" carries the firmware's qualifiers; "max", when present, gives the array length.
Ref<ClassObject> MakeBufferClass(const devicesim::DeviceConfig& config) {
    Ref<ClassObject> buffer(new ClassObject(kBufferClass, true));
    Property& bytes = buffer->AddProperty(kBytesProperty, VT_ARRAY | VT_UI1);
    bytes.qualifiers.emplace_back(L"CIMTYPE", Value::String(L"uint8"));
    bytes.qualifiers.emplace_back(L"WmiDataId", Value::Int(1));
    switch (config.maxKind) {
        case devicesim::MaxQualifier::Absent:
            break;
        case devicesim::MaxQualifier::Int32:
            bytes.qualifiers.emplace_back(Widen(config.maxName), Value::Int(config.maxValue));
            break;
        case devicesim::MaxQualifier::OtherType:
            bytes.qualifiers.emplace_back(Widen(config.maxName),
                                          Value::String(std::to_wstring(config.maxValue)));
            break;
    }
    return buffer;
}

// The request bytes in the input parameters: "Data" holds a "BDat" whose "Bytes" is a byte
// array. False when the parameters have another shape.
bool ReadRequest(IWbemClassObject* inParams, std::vector<uint8_t>& request) {
    auto* parameters = dynamic_cast<ClassObject*>(inParams);
    Property* data = parameters ? parameters->Find(kDataProperty) : nullptr;
    if (data == nullptr || data->value.get().vt != VT_UNKNOWN) return false;
    auto* buffer = dynamic_cast<ClassObject*>(data->value.get().punkVal);
    Property* bytes = buffer && buffer->IsA(kBufferClass) ? buffer->Find(kBytesProperty) : nullptr;
    if (bytes == nullptr || bytes->value.get().vt != (VT_ARRAY | VT_UI1)) return false;
    const SAFEARRAY* array = bytes->value.get().parray;
    if (array == nullptr) return false;
    const auto* first = static_cast<const uint8_t*>(array->pvData);
    request.assign(first, first + array->rgsabound[0].cElements);
    return true;
}

// The output parameters for the firmware's answer, in the shape its config asks for.
Ref<ClassObject> MakeAnswer(const std::vector<uint8_t>& answer, devicesim::AnswerShape shape) {
    // Built as bare instances: a caller reads only their values, never their qualifiers.
    Ref<ClassObject> outParams(new ClassObject(kParametersClass, false));
    Property& data = outParams->AddProperty(kDataProperty, VT_UNKNOWN);
    Ref<ClassObject> buffer(new ClassObject(kBufferClass, false));
    Property& bytes = buffer->AddProperty(kBytesProperty, VT_ARRAY | VT_UI1);
    switch (shape) {
        case devicesim::AnswerShape::Bytes:
            bytes.value = Value::Bytes(answer.data(), answer.size());
            data.value = Value::Object(buffer.get());
            break;
        case devicesim::AnswerShape::DataEmpty:
            break;
        case devicesim::AnswerShape::DataNotClassObject:
            data.value = Value::Object(Ref<IUnknown>(new ForeignObject).get());
            break;
        case devicesim::AnswerShape::BytesNotByteArray:
            bytes.value = Value::Int(answer.empty() ? 0 : answer[0]);
            data.value = Value::Object(buffer.get());
            break;
    }
    return outParams;
}

class Services final : public ComObject<IWbemServices> {
  public:
    HRESULT STDMETHODCALLTYPE GetObject(const BSTR strObjectPath, LONG, IWbemContext*,
                                        IWbemClassObject** ppObject,
                                        IWbemCallResult** ppCallResult) override {
        if (HRESULT hr = ArmedFailure("IWbemServices::GetObject")) return hr;
        if (ppCallResult != nullptr) *ppCallResult = nullptr;
        if (strObjectPath == nullptr || ppObject == nullptr) return WBEM_E_INVALID_PARAMETER;
        *ppObject = nullptr;
        const devicesim::DeviceConfig& config = TheDevice().config();
        return GuardHeap(WBEM_E_OUT_OF_MEMORY, [&] {
            Ref<ClassObject> found;
            if (config.deviceClassPresent && EqualsIgnoringCase(strObjectPath, kDeviceClass))
                found = MakeDeviceClass();
            else if (config.bdatClassPresent && EqualsIgnoringCase(strObjectPath, kBufferClass))
                found = MakeBufferClass(config);
            else
                return WBEM_E_NOT_FOUND;
            *ppObject = found.detach();
            return WBEM_S_NO_ERROR;
        });
    }

    HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR strObjectPath, const BSTR strMethodName, LONG,
                                         IWbemContext*, IWbemClassObject* pInParams,
                                         IWbemClassObject** ppOutParams,
                                         IWbemCallResult** ppCallResult) override {
        if (HRESULT hr = ArmedFailure("IWbemServices::ExecMethod")) return hr;
        if (ppCallResult != nullptr) *ppCallResult = nullptr;
        if (ppOutParams != nullptr) *ppOutParams = nullptr;
        if (strObjectPath == nullptr || strMethodName == nullptr) return WBEM_E_INVALID_PARAMETER;
        devicesim::Device& device = TheDevice();
        if (!device.config().deviceClassPresent) return WBEM_E_INVALID_CLASS;
        if (!EqualsIgnoringCase(strObjectPath, kDevicePath)) return WBEM_E_NOT_FOUND;
        if (!EqualsIgnoringCase(strMethodName, kMethod)) return WBEM_E_INVALID_METHOD;
        return GuardHeap(WBEM_E_OUT_OF_MEMORY, [&] {
            std::vector<uint8_t> request;
            if (!ReadRequest(pInParams, request)) return WBEM_E_INVALID_METHOD_PARAMETERS;
            Ref<ClassObject> outParams =
                MakeAnswer(device.Execute(request), device.config().answerShape);
            if (ppOutParams != nullptr) *ppOutParams = outParams.detach();
            return WBEM_S_NO_ERROR;
        });
    }
};

class Locator final : public ComObject<IWbemLocator> {
  public:
    HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR strNetworkResource, const BSTR, const BSTR,
                                            const BSTR, LONG, const BSTR, IWbemContext*,
                                            IWbemServices** ppNamespace) override {
        if (HRESULT hr = ArmedFailure("IWbemLocator::ConnectServer")) return hr;
        if (strNetworkResource == nullptr || ppNamespace == nullptr)
            return WBEM_E_INVALID_PARAMETER;
        *ppNamespace = nullptr;
        if (!EqualsIgnoringCase(strNetworkResource, kNamespace)) return WBEM_E_INVALID_NAMESPACE;
        return GuardHeap(WBEM_E_OUT_OF_MEMORY, [&] {
            *ppNamespace = new Services;
            return WBEM_S_NO_ERROR;
        });
    }
};

}  // namespace

HRESULT CreateWbemLocator(REFIID riid, void** object) {
    return GuardHeap(E_OUTOFMEMORY, [&] {
        Ref<Locator> locator(new Locator);
        return locator->QueryInterface(riid, object);
    });
}

devicesim::Device& Firmware() { return TheDevice(); }

void ResetFirmware(devicesim::DeviceConfig config) {
    TheDevice() = devicesim::Device(std::move(config));
}

}  // namespace winsim
