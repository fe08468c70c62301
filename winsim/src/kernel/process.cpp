// The process as the service program sees it: its module path and command line, the
// console control handlers, and WinINet's connectivity answer.
#include <cstring>
#include <cwchar>
#include <thread>

#include <winsim/bench.h>
#include <winsim/shell.h>
#include <winsim/wininet.h>

#include "system_state.h"

using winsim::detail::FailsAsArmed;
using winsim::detail::State;

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Splits a command line by the shell's documented rules: the program name ends at the next
// blank, or at the closing quote when it starts with one; in the other arguments 2n
// backslashes before a quote give n backslashes and the quote opens or closes a quoted
// part, 2n+1 backslashes give n backslashes and a literal quote, and backslashes not
// followed by a quote are kept as they are.
std::vector<std::wstring> SplitCommandLine(const std::wstring& line) {
    std::vector<std::wstring> arguments;
    std::size_t i = 0;
    std::wstring program;
    if (i < line.size() && line[i] == L'"') {
        for (++i; i < line.size() && line[i] != L'"'; ++i) program += line[i];
        if (i < line.size()) ++i;
    } else {
        for (; i < line.size() && !IsBlank(line[i]); ++i) program += line[i];
    }
    arguments.push_back(program);
    while (true) {
        while (i < line.size() && IsBlank(line[i])) ++i;
        if (i >= line.size()) break;
        std::wstring argument;
        bool quoted = false;
        while (i < line.size() && (quoted || !IsBlank(line[i]))) {
            std::size_t backslashes = 0;
            while (i < line.size() && line[i] == L'\\') ++backslashes, ++i;
            if (i < line.size() && line[i] == L'"') {
                argument.append(backslashes / 2, L'\\');
                if (backslashes % 2 == 1) {
                    argument += L'"';
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                argument.append(backslashes, L'\\');
                if (i < line.size() && (quoted || !IsBlank(line[i]))) argument += line[i++];
            }
        }
        arguments.push_back(argument);
    }
    return arguments;
}

}  // namespace

DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR filename, DWORD size) {
    if (FailsAsArmed("GetModuleFileNameW")) return 0;
    if (module != nullptr) {  // only the program's own module is simulated
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    std::wstring path;
    {
        auto& s = State();
        std::lock_guard lock(s.mutex);
        path = s.modulePath;
    }
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // A path that does not fit is cut to size - 1 characters and a terminator, and the
    // result is `size` with ERROR_INSUFFICIENT_BUFFER.
    if (path.size() >= size) {
        std::wmemcpy(filename, path.c_str(), size - 1);
        filename[size - 1] = L'\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::wmemcpy(filename, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

LPWSTR WINAPI GetCommandLineW() {
    winsim::CountCall("GetCommandLineW");
    auto& s = State();
    std::lock_guard lock(s.mutex);
    return s.commandLine.data();
}

LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR commandLine, int* argc) {
    if (FailsAsArmed("CommandLineToArgvW")) return nullptr;
    if (argc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::vector<std::wstring> arguments;
    if (commandLine == nullptr || *commandLine == L'\0') {
        auto& s = State();
        std::lock_guard lock(s.mutex);
        arguments.push_back(s.modulePath);
    } else {
        arguments = SplitCommandLine(commandLine);
    }
    // One block: the pointer array (ended by a null entry), then the strings.
    std::size_t characters = 0;
    for (const auto& argument : arguments) characters += argument.size() + 1;
    const std::size_t pointerBytes = (arguments.size() + 1) * sizeof(LPWSTR);
    auto* block = static_cast<unsigned char*>(
        winsim::detail::AllocateLocal(pointerBytes + characters * sizeof(wchar_t)));
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto* argv = reinterpret_cast<LPWSTR*>(block);
    auto* text = reinterpret_cast<wchar_t*>(block + pointerBytes);
    for (std::size_t n = 0; n < arguments.size(); ++n) {
        argv[n] = text;
        std::wmemcpy(text, arguments[n].c_str(), arguments[n].size() + 1);
        text += arguments[n].size() + 1;
    }
    argv[arguments.size()] = nullptr;
    *argc = static_cast<int>(arguments.size());
    return argv;
}

BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
    if (FailsAsArmed("SetConsoleCtrlHandler")) return FALSE;
    if (handler == nullptr) {  // ignoring Ctrl+C altogether is not simulated
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto& s = State();
    std::lock_guard lock(s.mutex);
    auto& handlers = s.consoleHandlers;
    if (add) {
        handlers.push_back(handler);
        return TRUE;
    }
    for (auto it = handlers.rbegin(); it != handlers.rend(); ++it) {
        if (*it == handler) {
            handlers.erase(std::next(it).base());
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

BOOL WINAPI InternetGetConnectedState(LPDWORD flags, DWORD) {
    if (FailsAsArmed("InternetGetConnectedState")) {
        if (flags) *flags = 0;
        return FALSE;
    }
    auto& s = State();
    std::lock_guard lock(s.mutex);
    if (flags) *flags = s.internetConnected ? INTERNET_CONNECTION_LAN : INTERNET_CONNECTION_OFFLINE;
    return s.internetConnected;
}

namespace winsim {

void SetModulePath(std::wstring path) {
    auto& s = detail::State();
    std::lock_guard lock(s.mutex);
    s.modulePath = std::move(path);
}

void SetCommandLine(std::wstring commandLine) {
    auto& s = detail::State();
    std::lock_guard lock(s.mutex);
    s.commandLine = std::move(commandLine);
}

void SetInternetConnected(BOOL result) {
    auto& s = detail::State();
    std::lock_guard lock(s.mutex);
    s.internetConnected = result;
}

BOOL DeliverConsoleControl(DWORD ctrlType) {
    std::vector<PHANDLER_ROUTINE> handlers;
    {
        auto& s = detail::State();
        std::lock_guard lock(s.mutex);
        handlers.assign(s.consoleHandlers.rbegin(), s.consoleHandlers.rend());
    }
    BOOL handled = FALSE;
    std::thread console([&] {
        for (auto handler : handlers) {
            if (handler(ctrlType)) {
                handled = TRUE;
                break;
            }
        }
    });
    console.join();
    return handled;
}

}  // namespace winsim
