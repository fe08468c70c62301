#pragma once
// The WMI channel to the firmware's device-control class "ZelvDeviceControl" in "root\wmi".
#include <critical_section.h>
#include <platform.h>

#include <cstdint>

#include "owners.h"
#include "request_buffer.h"

namespace glintlamp {

// Connects to "root\wmi", finds the firmware's classes, learns how many bytes one command
// may hold, then carries one request buffer at a time to the firmware's method "Control"
// and its answer back. Construction records its first failure in InitResult() and the
// object stays failed; an out-of-memory failure is raised instead.
class CZelvDeviceControl {
  public:
    // The byte count a firmware without a "max" qualifier gets.
    static constexpr int32_t kDefaultMaxBytes = 128;

    CZelvDeviceControl();
    virtual ~CZelvDeviceControl();
    CZelvDeviceControl(const CZelvDeviceControl&) = delete;
    CZelvDeviceControl& operator=(const CZelvDeviceControl&) = delete;

    HRESULT InitResult() const { return initResult_; }
    // The length of the firmware's "Bytes" array: its "max" qualifier, else 128.
    HRESULT GetMaxBytes(int32_t* out);
    // One request in `buffer` to the firmware, and the firmware's answer back into it, cut
    // to the buffer's length. The request travels in an array of GetMaxBytes elements.
    HRESULT Exchange(LedRequestBuffer buffer);

  private:
    HRESULT Construct();
    HRESULT Connect(ComPtr<IWbemServices>& connection);
    HRESULT LoadClasses();
    HRESULT SpawnInstances();
    HRESULT FindMaxQualifier(IWbemQualifierSet* qualifiers);
    HRESULT PutRequest(LedRequestBuffer buffer);
    HRESULT ExecControl();
    HRESULT ReadResponse(LedRequestBuffer buffer);
    void RevokeServices();

    CriticalSection lock_;  // serialises Exchange
    ComPtr<IWbemServices> services_;
    HRESULT initResult_ = S_OK;
    int32_t maxBytes_ = -1;  // -1 until known
    ComPtr<IGlobalInterfaceTable> git_;
    DWORD cookie_ = 0;  // services_ in git_; 0 = not registered
    ComPtr<IWbemClassObject> bdatClass_;
    ComPtr<IWbemClassObject> bdatInstance_;  // reused for every request
    ComPtr<IWbemClassObject> outParams_;     // of the most recent call
    ComPtr<IWbemClassObject> inParams_;      // reused for every request
    ComPtr<IWbemClassObject> deviceClass_;
    ComPtr<IWbemClassObject> inSignature_;
    ComPtr<IWbemClassObject> outSignature_;
};

}  // namespace glintlamp
