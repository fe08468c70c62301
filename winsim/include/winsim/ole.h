#pragma once
// COM (ole32) and OLE Automation (oleaut32) as the LED library uses them: object creation,
// proxy security, the global interface table, system strings, variants and safe arrays.
#include <winsim/base.h>

typedef IUnknown* LPUNKNOWN;
typedef void* RPC_AUTH_IDENTITY_HANDLE;

// ---- Result codes --------------------------------------------------------------------------
constexpr HRESULT DISP_E_BADINDEX = static_cast<HRESULT>(0x8002000B);
constexpr HRESULT DISP_E_ARRAYISLOCKED = static_cast<HRESULT>(0x8002000D);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154);

// ---- Object creation and proxy security ------------------------------------------------------
enum tagCLSCTX { CLSCTX_INPROC_SERVER = 0x1 };
typedef enum tagCLSCTX CLSCTX;

#define RPC_C_AUTHN_WINNT 10
#define RPC_C_AUTHZ_NONE 0
#define RPC_C_AUTHN_LEVEL_CALL 3
#define RPC_C_AUTHN_LEVEL_PKT 4
#define RPC_C_IMP_LEVEL_IMPERSONATE 3
enum tagEOLE_AUTHENTICATION_CAPABILITIES { EOAC_NONE = 0 };

extern "C" HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                    REFIID riid, LPVOID* ppv);
extern "C" HRESULT CoSetProxyBlanket(IUnknown* pProxy, DWORD dwAuthnSvc, DWORD dwAuthzSvc,
                                     OLECHAR* pServerPrincName, DWORD dwAuthnLevel,
                                     DWORD dwImpLevel, RPC_AUTH_IDENTITY_HANDLE pAuthInfo,
                                     DWORD dwCapabilities);

// ---- The process's global interface table ------------------------------------------------
struct IGlobalInterfaceTable : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE RegisterInterfaceInGlobal(IUnknown* pUnk, REFIID riid,
                                                                DWORD* pdwCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE RevokeInterfaceFromGlobal(DWORD dwCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInterfaceFromGlobal(DWORD dwCookie, REFIID riid,
                                                             void** ppv) = 0;

  protected:
    ~IGlobalInterfaceTable() = default;
};
extern const CLSID CLSID_StdGlobalInterfaceTable;
extern const IID IID_IGlobalInterfaceTable;

// Only so that a variant can hold one; the library never calls through it.
struct IDispatch : IUnknown {
  protected:
    ~IDispatch() = default;
};

// ---- System strings: length-prefixed UTF-16 ------------------------------------------------
typedef OLECHAR* BSTR;

extern "C" BSTR SysAllocString(const OLECHAR* psz);
extern "C" void SysFreeString(BSTR bstrString);
extern "C" UINT SysStringLen(BSTR pbstr);

// ---- Safe arrays -------------------------------------------------------------------------
typedef USHORT VARTYPE;

struct SAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
};
struct SAFEARRAY {
    USHORT cDims;
    USHORT fFeatures;
    ULONG cbElements;
    ULONG cLocks;  // SafeArrayAccessData and SafeArrayPutElement hold a lock while they run
    PVOID pvData;
    SAFEARRAYBOUND rgsabound[1];
};

extern "C" SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
extern "C" HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
extern "C" HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
extern "C" HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);
extern "C" HRESULT SafeArrayDestroy(SAFEARRAY* psa);

// ---- Variants ------------------------------------------------------------------------------
enum VARENUM {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I4 = 3,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_UNKNOWN = 13,
    VT_UI1 = 17,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
};

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONG lVal;
        BYTE bVal;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        PVOID byref;
    };
};
typedef VARIANT VARIANTARG;

extern "C" void VariantInit(VARIANTARG* pvarg);
extern "C" HRESULT VariantClear(VARIANTARG* pvarg);
