// COM: object creation, proxy security and the process's global interface table.
#include <map>
#include <mutex>

#include "com_internal.h"

namespace winsim {
namespace {

// One table per process that lives as long as the process: its references are counted but
// the object itself never goes away, as on Windows.
class GlobalInterfaceTable final : public IGlobalInterfaceTable {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        return QueryOwnInterface<IGlobalInterfaceTable>(this, riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        CountLive(Resource::ComReference, +1);
        return 2;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        CountLive(Resource::ComReference, -1);
        return 1;
    }

    HRESULT STDMETHODCALLTYPE RegisterInterfaceInGlobal(IUnknown* pUnk, REFIID riid,
                                                        DWORD* pdwCookie) override {
        if (HRESULT hr = ArmedFailure("IGlobalInterfaceTable::RegisterInterfaceInGlobal"))
            return hr;
        if (pUnk == nullptr || pdwCookie == nullptr) return E_INVALIDARG;
        return GuardHeap(E_OUTOFMEMORY, [&] {
            std::lock_guard lock(mutex_);
            entries_.emplace(nextCookie_, Entry{pUnk, riid});
            pUnk->AddRef();
            *pdwCookie = nextCookie_++;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE RevokeInterfaceFromGlobal(DWORD dwCookie) override {
        HRESULT armed = ArmedFailure("IGlobalInterfaceTable::RevokeInterfaceFromGlobal");
        IUnknown* object = nullptr;
        {
            std::lock_guard lock(mutex_);
            auto it = entries_.find(dwCookie);
            if (it == entries_.end()) return E_INVALIDARG;
            object = it->second.object;
            entries_.erase(it);
        }
        object->Release();
        return armed;
    }
    // In one process nothing needs marshalling: the caller gets the registered object.
    HRESULT STDMETHODCALLTYPE GetInterfaceFromGlobal(DWORD dwCookie, REFIID riid,
                                                     void** ppv) override {
        if (HRESULT hr = ArmedFailure("IGlobalInterfaceTable::GetInterfaceFromGlobal")) return hr;
        if (ppv == nullptr) return E_INVALIDARG;
        *ppv = nullptr;
        std::lock_guard lock(mutex_);
        auto it = entries_.find(dwCookie);
        if (it == entries_.end()) return E_INVALIDARG;
        if (riid != it->second.iid) return it->second.object->QueryInterface(riid, ppv);
        it->second.object->AddRef();
        *ppv = it->second.object;
        return S_OK;
    }

  private:
    struct Entry {
        IUnknown* object;  // holds one reference
        IID iid;
    };
    std::mutex mutex_;
    std::map<DWORD, Entry> entries_;
    DWORD nextCookie_ = 0x100;
};

GlobalInterfaceTable& TheGlobalInterfaceTable() {
    static GlobalInterfaceTable table;
    return table;
}

}  // namespace
}  // namespace winsim

using winsim::ArmedFailure;

extern "C" HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                    REFIID riid, LPVOID* ppv) {
    if (HRESULT hr = ArmedFailure("CoCreateInstance")) return hr;
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
    if ((dwClsContext & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
    if (rclsid == CLSID_WbemLocator) return winsim::CreateWbemLocator(riid, ppv);
    if (rclsid == CLSID_StdGlobalInterfaceTable)
        return winsim::TheGlobalInterfaceTable().QueryInterface(riid, ppv);
    return REGDB_E_CLASSNOTREG;
}

// Every connection the stand-in hands out is in-process, so there is no proxy to configure:
// the call only checks its arguments.
extern "C" HRESULT CoSetProxyBlanket(IUnknown* pProxy, DWORD, DWORD, OLECHAR*, DWORD dwAuthnLevel,
                                     DWORD dwImpLevel, RPC_AUTH_IDENTITY_HANDLE, DWORD) {
    if (HRESULT hr = ArmedFailure("CoSetProxyBlanket")) return hr;
    constexpr DWORD kHighestAuthnLevel = 6, kHighestImpLevel = 4;
    if (pProxy == nullptr || dwAuthnLevel > kHighestAuthnLevel || dwImpLevel > kHighestImpLevel)
        return E_INVALIDARG;
    return S_OK;
}
