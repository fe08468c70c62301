#include "service_registration.h"

#include <cwchar>

namespace {

// "winmgmt", ended by its own terminator and the list's.
constexpr wchar_t kDependencies[] = L"winmgmt\0";

}  // namespace

SC_HANDLE CreateLedService(SC_HANDLE manager, const wchar_t* programPath, DWORD startType,
                           DWORD desiredAccess) {
    const std::size_t length = std::wcslen(programPath);
    if (length >= kProgramPathCapacity) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nullptr;
    }
    wchar_t quotedPath[kProgramPathCapacity + 2];
    quotedPath[0] = L'"';
    std::wmemcpy(quotedPath + 1, programPath, length);
    quotedPath[length + 1] = L'"';
    quotedPath[length + 2] = L'\0';
    return CreateServiceW(manager, kServiceName, kDisplayName, desiredAccess,
                          SERVICE_WIN32_OWN_PROCESS, startType, SERVICE_ERROR_NORMAL, quotedPath,
                          nullptr, nullptr, kDependencies, nullptr, nullptr);
}
