// The registry under HKEY_LOCAL_MACHINE: key names compare without regard to case, opened
// keys are counted handles, and every call can be made to fail.
#include <cstring>
#include <cwctype>

#include <winsim/bench.h>

#include "system_state.h"

using winsim::detail::State;
using winsim::detail::SystemState;

namespace {

std::wstring Folded(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// The armed failure of `site` as the call's result, or ERROR_SUCCESS.
LSTATUS ArmedFailure(const char* site) {
    uint32_t code = 0;
    return winsim::TakeFault(site, &code) ? static_cast<LSTATUS>(code) : ERROR_SUCCESS;
}

// The full path of `subKey` below `key`; false when `key` names no open key.
bool PathBelow(SystemState& s, HKEY key, LPCWSTR subKey, std::wstring* path) {
    std::wstring base;
    if (key != HKEY_LOCAL_MACHINE) {
        auto it = s.registryHandles.find(reinterpret_cast<uintptr_t>(key));
        if (it == s.registryHandles.end()) {
            ++s.staleHandleUses;
            return false;
        }
        base = it->second;
    }
    std::wstring below = subKey ? Folded(subKey) : std::wstring();
    *path = base.empty() ? below : below.empty() ? base : base + L"\\" + below;
    return true;
}

}  // namespace

LSTATUS WINAPI RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM,
                               LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
    if (LSTATUS failure = ArmedFailure("RegCreateKeyExW")) return failure;
    auto& s = State();
    std::lock_guard lock(s.mutex);
    std::wstring path;
    if (!PathBelow(s, key, subKey, &path)) return ERROR_INVALID_HANDLE;
    if (result == nullptr || path.empty()) return ERROR_INVALID_PARAMETER;
    if (!s.administrator) return ERROR_ACCESS_DENIED;
    // Every missing key on the way is created too.
    const bool existed = s.registry.count(path) != 0;
    for (std::size_t end = path.find(L'\\'); end != std::wstring::npos;
         end = path.find(L'\\', end + 1))
        s.registry[path.substr(0, end)];
    s.registry[path];
    if (disposition) *disposition = existed ? 2 /* opened */ : 1 /* created */;
    *result = winsim::detail::IssueHandle<HKEY>(s.registryHandles, path);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data,
                              DWORD dataSize) {
    if (LSTATUS failure = ArmedFailure("RegSetValueExW")) return failure;
    auto& s = State();
    std::lock_guard lock(s.mutex);
    std::wstring path;
    if (key == HKEY_LOCAL_MACHINE || !PathBelow(s, key, nullptr, &path))
        return ERROR_INVALID_HANDLE;
    if (data == nullptr && dataSize != 0) return ERROR_INVALID_PARAMETER;
    auto it = s.registry.find(path);
    if (it == s.registry.end()) return ERROR_FILE_NOT_FOUND;  // deleted while open
    it->second[Folded(valueName ? valueName : L"")] =
        winsim::RegistryValue{type, std::vector<BYTE>(data, data + dataSize)};
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
    if (LSTATUS failure = ArmedFailure("RegDeleteKeyW")) return failure;
    auto& s = State();
    std::lock_guard lock(s.mutex);
    std::wstring path;
    if (!PathBelow(s, key, subKey, &path)) return ERROR_INVALID_HANDLE;
    if (!s.administrator) return ERROR_ACCESS_DENIED;
    auto it = s.registry.find(path);
    if (it == s.registry.end()) return ERROR_FILE_NOT_FOUND;
    // A key with subkeys cannot be deleted this way.
    auto next = std::next(it);
    if (next != s.registry.end() && next->first.starts_with(path + L"\\"))
        return ERROR_ACCESS_DENIED;
    s.registry.erase(it);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
    if (LSTATUS failure = ArmedFailure("RegCloseKey")) return failure;
    auto& s = State();
    std::lock_guard lock(s.mutex);
    auto it = s.registryHandles.find(reinterpret_cast<uintptr_t>(key));
    if (it == s.registryHandles.end()) {
        ++s.staleHandleUses;
        return ERROR_INVALID_HANDLE;
    }
    s.registryHandles.erase(it);
    winsim::CountLive(winsim::Resource::Handle, -1);
    return ERROR_SUCCESS;
}

namespace winsim {

std::optional<RegistryValue> FindRegistryValue(const std::wstring& key, const std::wstring& name) {
    auto& s = detail::State();
    std::lock_guard lock(s.mutex);
    auto it = s.registry.find(Folded(key));
    if (it == s.registry.end()) return std::nullopt;
    auto value = it->second.find(Folded(name));
    if (value == it->second.end()) return std::nullopt;
    return value->second;
}

bool RegistryKeyExists(const std::wstring& key) {
    auto& s = detail::State();
    std::lock_guard lock(s.mutex);
    return s.registry.count(Folded(key)) != 0;
}

std::wstring RegistryString(const RegistryValue& value) {
    std::wstring text(value.data.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), value.data.data(), text.size() * sizeof(wchar_t));
    // Stored with its terminator, as the system's string values are.
    if (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

}  // namespace winsim
