#pragma once
// WMI's client interfaces as the LED library uses them: a locator, a namespace connection,
// class objects with methods and properties, and a property's qualifier set.
#include <winsim/base.h>
#include <winsim/ole.h>

typedef LONG CIMTYPE;

enum tag_WBEMSTATUS {
    WBEM_S_NO_ERROR = 0,
    WBEM_S_NO_MORE_DATA = 0x40005,
    WBEM_E_NOT_FOUND = 0x80041002,
    WBEM_E_TYPE_MISMATCH = 0x80041005,
    WBEM_E_OUT_OF_MEMORY = 0x80041006,
    WBEM_E_INVALID_PARAMETER = 0x80041008,
    WBEM_E_INVALID_NAMESPACE = 0x8004100E,
    WBEM_E_INVALID_CLASS = 0x80041010,
    WBEM_E_INVALID_OPERATION = 0x80041016,
    WBEM_E_UNEXPECTED = 0x8004101D,
    WBEM_E_INVALID_METHOD = 0x8004102E,
    WBEM_E_INVALID_METHOD_PARAMETERS = 0x8004102F,
};
typedef enum tag_WBEMSTATUS WBEMSTATUS;

enum tag_WBEM_CONDITION_FLAG_TYPE {
    WBEM_FLAG_LOCAL_ONLY = 0x10,
    WBEM_FLAG_PROPAGATED_ONLY = 0x20,
};

struct IWbemContext;
struct IWbemCallResult;

struct IWbemQualifierSet : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG lFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE Next(LONG lFlags, BSTR* pstrName, VARIANT* pVal,
                                           LONG* plFlavor) = 0;
    virtual HRESULT STDMETHODCALLTYPE EndEnumeration() = 0;

  protected:
    ~IWbemQualifierSet() = default;
};

struct IWbemClassObject : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Get(LPCWSTR wszName, LONG lFlags, VARIANT* pVal,
                                          CIMTYPE* pType, LONG* plFlavor) = 0;
    virtual HRESULT STDMETHODCALLTYPE Put(LPCWSTR wszName, LONG lFlags, VARIANT* pVal,
                                          CIMTYPE Type) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR wszProperty,
                                                              IWbemQualifierSet** ppQualSet) = 0;
    virtual HRESULT STDMETHODCALLTYPE SpawnInstance(LONG lFlags,
                                                    IWbemClassObject** ppNewInstance) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR wszName, LONG lFlags,
                                                IWbemClassObject** ppInSignature,
                                                IWbemClassObject** ppOutSignature) = 0;

  protected:
    ~IWbemClassObject() = default;
};

struct IWbemServices : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetObject(const BSTR strObjectPath, LONG lFlags,
                                                IWbemContext* pCtx, IWbemClassObject** ppObject,
                                                IWbemCallResult** ppCallResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR strObjectPath, const BSTR strMethodName,
                                                 LONG lFlags, IWbemContext* pCtx,
                                                 IWbemClassObject* pInParams,
                                                 IWbemClassObject** ppOutParams,
                                                 IWbemCallResult** ppCallResult) = 0;

  protected:
    ~IWbemServices() = default;
};

struct IWbemLocator : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR strNetworkResource,
                                                    const BSTR strUser, const BSTR strPassword,
                                                    const BSTR strLocale, LONG lSecurityFlags,
                                                    const BSTR strAuthority, IWbemContext* pCtx,
                                                    IWbemServices** ppNamespace) = 0;

  protected:
    ~IWbemLocator() = default;
};

extern const CLSID CLSID_WbemLocator;
extern const IID IID_IWbemLocator;
extern const IID IID_IWbemServices;
extern const IID IID_IWbemClassObject;
extern const IID IID_IWbemQualifierSet;
