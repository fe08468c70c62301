// Error events in the Application log, and the system's text for the last error.
#include "console_text.h"
#include "glintwatch.h"

namespace {

constexpr std::size_t kErrorTextCapacity = 256;
// Room the error text needs beyond the system's text: " (0x", up to eight digits, ")" and
// the terminator, less the dropped line break.
constexpr std::size_t kErrorTextOverhead = 14;

wchar_t errorText[kErrorTextCapacity];

}  // namespace

void LogServiceError(const wchar_t* message) {
    if (serviceGlobals.consoleMode) return;
    const DWORD error = GetLastError();
    serviceGlobals.lastError = error;

    wchar_t firstString[105];
    FormatText(firstString, L"%ls error: %d", kServiceName, static_cast<int>(error));
    EventSource source(RegisterEventSourceW(nullptr, kServiceName));
    if (!source) return;
    LPCWSTR strings[] = {firstString, message};
    ReportEventW(source.get(), EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 2, 0, strings, nullptr);
}

const wchar_t* FormatLastError() {
    LocalText systemText;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY,
        nullptr, GetLastError(), 0, reinterpret_cast<LPWSTR>(systemText.put()), 0, nullptr);
    if (length == 0 || length + kErrorTextOverhead > kErrorTextCapacity) {
        errorText[0] = L'\0';
        return errorText;
    }
    // The system's texts end with a line break; a text without one is kept whole.
    LPWSTR text = systemText.get();
    const int textLength = lstrlenW(text);
    if (textLength >= 2 && text[textLength - 2] == L'\r' && text[textLength - 1] == L'\n')
        text[textLength - 2] = L'\0';
    FormatText(errorText, L"%ls (0x%x)", text, static_cast<unsigned>(GetLastError()));
    return errorText;
}
