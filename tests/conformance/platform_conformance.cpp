// What our code relies on from the platform, checked the same way against the host stand-in
// and against an independent Win32 implementation (Wine, with the test-only WMI provider).
// Built with plain checks instead of a test framework, since none is cross-built; prints one
// line per failed check and "N passed, N failed".
#include "platform.h"
#include "unique_resource.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "console_text.h"

namespace {

int passed = 0;
int failed = 0;

void Check(bool condition, const char* what, long long detail = 0) {
    if (condition) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL %s (%lld / 0x%llX)\n", what, detail,
                    static_cast<unsigned long long>(detail));
    }
}

void CloseEvent(HANDLE event) { CloseHandle(event); }
using UniqueEvent = UniqueResource<HANDLE, CloseEvent>;
void FreeBstr(BSTR text) { SysFreeString(text); }
using UniqueBstr = UniqueResource<BSTR, FreeBstr>;
void DestroyArray(SAFEARRAY* array) { SafeArrayDestroy(array); }
using UniqueSafeArray = UniqueResource<SAFEARRAY*, DestroyArray>;
void FreeLocal(LPWSTR text) { LocalFree(text); }
using UniqueLocalText = UniqueResource<LPWSTR, FreeLocal>;

template <typename T>
void ReleaseInterface(T* object) {
    object->Release();
}
template <typename T>
using Reference = UniqueResource<T*, ReleaseInterface<T>>;

// An object that counts its references, so a test can see who released it.
class CountedObject : public IUnknown {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid != IID_IUnknown) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    ULONG references = 1;
};

void CheckSystemStrings() {
    UniqueBstr name(SysAllocString(L"root\\wmi"));
    Check(SysStringLen(name.get()) == 8, "SysStringLen counts characters",
          SysStringLen(name.get()));
    // The length prefix before the characters holds the byte count; WMI reads it.
    Check(reinterpret_cast<const uint32_t*>(name.get())[-1] == 8 * sizeof(OLECHAR),
          "a system string's prefix holds its byte count",
          reinterpret_cast<const uint32_t*>(name.get())[-1]);
    Check(name.get()[8] == L'\0', "a system string is terminated");
    UniqueBstr cut(SysAllocString(L"ab\0cd"));
    Check(SysStringLen(cut.get()) == 2, "SysAllocString stops at the first NUL",
          SysStringLen(cut.get()));
    Check(SysAllocString(nullptr) == nullptr, "SysAllocString of null is null");
    Check(SysStringLen(nullptr) == 0, "SysStringLen of null is 0");
}

void CheckVariantClear() {
    CountedObject object;
    VARIANT holder;
    VariantInit(&holder);
    holder.vt = VT_UNKNOWN;
    holder.punkVal = &object;
    object.AddRef();
    Check(VariantClear(&holder) == S_OK, "VariantClear of an object succeeds");
    Check(object.references == 1, "VariantClear releases the object it holds", object.references);
    Check(holder.vt == VT_EMPTY, "a cleared variant is empty", holder.vt);
}

void CheckSafeArrayBounds() {
    struct Case {
        LONG lowerBound;
        LONG index;
        HRESULT expected;
    };
    const Case cases[] = {
        {0, 0, S_OK},
        {0, 3, S_OK},
        {0, 4, DISP_E_BADINDEX},
        {0, -1, DISP_E_BADINDEX},
        {1, 0, DISP_E_BADINDEX},
        {1, 4, S_OK},
        {1, 5, DISP_E_BADINDEX},
    };
    for (const Case& c : cases) {
        UniqueSafeArray array(SafeArrayCreateVector(VT_UI1, c.lowerBound, 4));
        BYTE value = 0xAB;
        LONG index = c.index;
        HRESULT result = SafeArrayPutElement(array.get(), &index, &value);
        Check(result == c.expected, "SafeArrayPutElement bounds", result);
    }
    // Elements nobody wrote are zero: a request shorter than the array is padded with zeros.
    UniqueSafeArray array(SafeArrayCreateVector(VT_UI1, 0, 4));
    BYTE value = 0xAB;
    LONG index = 2;
    SafeArrayPutElement(array.get(), &index, &value);
    void* data = nullptr;
    Check(SafeArrayAccessData(array.get(), &data) == S_OK, "SafeArrayAccessData");
    const auto* bytes = static_cast<const BYTE*>(data);
    Check(bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 0xAB && bytes[3] == 0,
          "a new byte array is zero but for what was put");
    Check(SafeArrayUnaccessData(array.get()) == S_OK, "SafeArrayUnaccessData");
}

void CheckGlobalInterfaceTable() {
    Reference<IWbemLocator> locator;
    HRESULT result = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IWbemLocator, reinterpret_cast<void**>(locator.put()));
    Check(result == S_OK, "CoCreateInstance of the WMI locator", result);
    if (FAILED(result)) return;
    UniqueBstr wmiNamespace(SysAllocString(L"root\\wmi"));
    Reference<IWbemServices> services;
    result = locator.get()->ConnectServer(wmiNamespace.get(), nullptr, nullptr, nullptr, 0, nullptr,
                                          nullptr, services.put());
    Check(result == S_OK, "ConnectServer root\\wmi", result);
    if (FAILED(result)) return;
    Reference<IGlobalInterfaceTable> table;
    result = CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IGlobalInterfaceTable, reinterpret_cast<void**>(table.put()));
    Check(result == S_OK, "CoCreateInstance of the global interface table", result);
    if (FAILED(result)) return;

    DWORD cookie = 0;
    result = table.get()->RegisterInterfaceInGlobal(services.get(), IID_IWbemServices, &cookie);
    Check(result == S_OK && cookie != 0, "RegisterInterfaceInGlobal", result);
    Reference<IWbemServices> fetched;
    result = table.get()->GetInterfaceFromGlobal(cookie, IID_IWbemServices,
                                                 reinterpret_cast<void**>(fetched.put()));
    Check(result == S_OK && fetched, "GetInterfaceFromGlobal", result);
    // The same apartment gets the object itself back, not a proxy.
    Check(fetched.get() == services.get(), "the round trip gives the same object");
    Check(table.get()->RevokeInterfaceFromGlobal(cookie) == S_OK, "RevokeInterfaceFromGlobal");
    Reference<IWbemServices> stale;
    result = table.get()->GetInterfaceFromGlobal(cookie, IID_IWbemServices,
                                                 reinterpret_cast<void**>(stale.put()));
    Check(result == E_INVALIDARG, "a revoked cookie is refused", result);
    Check(table.get()->RevokeInterfaceFromGlobal(cookie) == E_INVALIDARG,
          "a revoked cookie cannot be revoked again");
}

void CheckSystemMessages() {
    // Windows words these longer than Wine does ("The specified service already exists." and
    // "Service exists."): only the shape is common to both, one line closed by CR LF.
    for (DWORD code : {5ul, 1060ul, 1063ul, 1073ul}) {
        UniqueLocalText text;
        DWORD length =
            FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_ARGUMENT_ARRAY,
                           nullptr, code, 0, reinterpret_cast<LPWSTR>(text.put()), 0, nullptr);
        Check(length >= 3, "FormatMessageW knows the error", code);
        if (length < 3) continue;
        std::wstring message(text.get(), length);
        Check(message.size() == static_cast<size_t>(lstrlenW(text.get())),
              "FormatMessageW returns the length of its text", code);
        Check(message.ends_with(L"\r\n") && message.find(L'\n') == message.size() - 1,
              "a system message is one line ending in CR LF", code);
        std::printf("message %lu: ", static_cast<unsigned long>(code));
        std::fflush(stdout);
        WriteConsoleText(message.c_str());
    }
}

void CheckEvents() {
    UniqueEvent stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Check(static_cast<bool>(stop), "CreateEventW of a manual-reset event");
    Check(WaitForSingleObject(stop.get(), 0) == WAIT_TIMEOUT, "a new event is not set");
    Check(WaitForSingleObject(stop.get(), 20) == WAIT_TIMEOUT, "a wait ends with its time-out");
    Check(SetEvent(stop.get()) != FALSE, "SetEvent");
    // Manual reset: every later wait sees the event until it is reset.
    Check(WaitForSingleObject(stop.get(), 1000) == WAIT_OBJECT_0, "a set event ends the wait");
    Check(WaitForSingleObject(stop.get(), 0) == WAIT_OBJECT_0, "the event stays set");
    Check(ResetEvent(stop.get()) != FALSE, "ResetEvent");
    Check(WaitForSingleObject(stop.get(), 0) == WAIT_TIMEOUT, "a reset event is not set");
    UniqueEvent set(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    Check(WaitForSingleObject(set.get(), 0) == WAIT_OBJECT_0, "an event created set is set");
}

// What `write` puts on standard output, byte for byte.
template <typename Write>
std::string CaptureStandardOutput(Write write) {
    std::fflush(stdout);
    FILE* capture = std::tmpfile();
    if (!capture) return "<no temporary file>";
    int original = dup(fileno(stdout));
    dup2(fileno(capture), fileno(stdout));
    write();
    std::fflush(stdout);
    dup2(original, fileno(stdout));
    close(original);
    std::string bytes;
    std::rewind(capture);
    for (int c; (c = std::fgetc(capture)) != EOF;) bytes += static_cast<char>(c);
    std::fclose(capture);
    return bytes;
}

void CheckConsoleText() {
    // The default C locale: a character up to U+00FF is its own byte, anything else '?'.
    std::string written = CaptureStandardOutput(
        [] { PrintConsole(L"caf\u00e9 %ls|%d|0x%08X", L"\u20ac\u00ff", -5, 0xA0000000u); });
    Check(written == "caf\xe9 ?\xff|-5|0xA0000000", "wide console text, byte for byte");
    if (written != "caf\xe9 ?\xff|-5|0xA0000000") std::printf("  written: %s\n", written.c_str());
    wchar_t small[8];
    FormatText(small, L"%ls", L"0123456789");
    Check(std::wcscmp(small, L"0123456") == 0, "formatted text is cut to its buffer");
}

}  // namespace

int main() {
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Check(com == S_OK, "CoInitializeEx", com);
    CheckSystemStrings();
    CheckVariantClear();
    CheckSafeArrayBounds();
    CheckGlobalInterfaceTable();
    CheckSystemMessages();
    CheckEvents();
    CheckConsoleText();
    if (SUCCEEDED(com)) CoUninitialize();
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
