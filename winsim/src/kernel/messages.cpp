// The system's message texts, local memory and string length.
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include <winsim/bench.h>

#include "system_state.h"

using winsim::detail::FailsAsArmed;
using winsim::detail::State;

namespace {

// The system's texts for the errors the service program meets, as FormatMessageW gives
// them: one sentence and a closing line break.
const std::map<DWORD, std::wstring>& SystemMessages() {
    static const std::map<DWORD, std::wstring> texts = {
        {ERROR_SUCCESS, L"The operation completed successfully.\r\n"},
        {ERROR_ACCESS_DENIED, L"Access is denied.\r\n"},
        {ERROR_INVALID_HANDLE, L"The handle is invalid.\r\n"},
        {ERROR_NOT_ENOUGH_MEMORY,
         L"Not enough memory resources are available to process this command.\r\n"},
        {ERROR_INVALID_PARAMETER, L"The parameter is incorrect.\r\n"},
        {ERROR_INSUFFICIENT_BUFFER, L"The data area passed to a system call is too small.\r\n"},
        {ERROR_INVALID_SERVICE_CONTROL,
         L"The requested control is not valid for this service.\r\n"},
        {ERROR_SERVICE_DOES_NOT_EXIST,
         L"The specified service does not exist as an installed service.\r\n"},
        {ERROR_SERVICE_NOT_ACTIVE, L"The service has not been started.\r\n"},
        {ERROR_FAILED_SERVICE_CONTROLLER_CONNECT,
         L"The service process could not connect to the service controller.\r\n"},
        {ERROR_SERVICE_MARKED_FOR_DELETE,
         L"The specified service has been marked for deletion.\r\n"},
        {ERROR_SERVICE_EXISTS, L"The specified service already exists.\r\n"},
        {ERROR_DUPLICATE_SERVICE_NAME,
         L"The name is already in use as either a service name or a service display name.\r\n"},
    };
    return texts;
}

std::optional<std::wstring> SystemMessage(DWORD code) {
    auto& s = State();
    std::lock_guard lock(s.mutex);
    if (auto it = s.messageOverrides.find(code); it != s.messageOverrides.end()) return it->second;
    if (auto it = SystemMessages().find(code); it != SystemMessages().end()) return it->second;
    return std::nullopt;
}

}  // namespace

void* winsim::detail::AllocateLocal(std::size_t bytes) {
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr) return nullptr;
    auto& s = State();
    std::lock_guard lock(s.mutex);
    s.localBlocks.insert(block);
    return block;
}

DWORD WINAPI FormatMessageW(DWORD flags, LPCVOID, DWORD messageId, DWORD, LPWSTR buffer, DWORD size,
                            va_list*) {
    if (FailsAsArmed("FormatMessageW")) return 0;
    // Only system texts are simulated, and none of them has inserts.
    if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || buffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto text = SystemMessage(messageId);
    if (!text) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    const std::size_t length = text->size();
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        std::size_t units = length + 1 > size ? length + 1 : size;
        auto* block = static_cast<wchar_t*>(winsim::detail::AllocateLocal(units * sizeof(wchar_t)));
        if (block == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        std::wmemcpy(block, text->c_str(), length + 1);
        *reinterpret_cast<LPWSTR*>(buffer) = block;
    } else {
        if (length + 1 > size) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        std::wmemcpy(buffer, text->c_str(), length + 1);
    }
    return static_cast<DWORD>(length);
}

HLOCAL WINAPI LocalFree(HLOCAL memory) {
    if (FailsAsArmed("LocalFree")) return memory;
    if (memory == nullptr) return nullptr;
    auto& s = State();
    std::lock_guard lock(s.mutex);
    if (s.localBlocks.erase(memory) == 0) {  // not a live block: freed before, or never ours
        ++s.staleHandleUses;
        SetLastError(ERROR_INVALID_HANDLE);
        return memory;
    }
    std::free(memory);
    return nullptr;
}

int WINAPI lstrlenW(LPCWSTR text) {
    winsim::CountCall("lstrlenW");
    return text == nullptr ? 0 : static_cast<int>(std::wcslen(text));
}

namespace winsim {

void SetSystemMessage(DWORD code, std::wstring text) {
    auto& s = detail::State();
    std::lock_guard lock(s.mutex);
    s.messageOverrides[code] = std::move(text);
}

long LiveLocalBlocks() {
    auto& s = detail::State();
    std::lock_guard lock(s.mutex);
    return static_cast<long>(s.localBlocks.size());
}

}  // namespace winsim
