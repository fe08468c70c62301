#include "console_text.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cwchar>

namespace {

constexpr std::size_t kConsoleLine = 1024;

void FormatTextV(wchar_t* buffer, std::size_t capacity, const wchar_t* format, va_list args) {
    // On overflow one C library leaves the cut text unterminated and another terminates it;
    // terminating here gives the cut text on both.
    std::vswprintf(buffer, capacity, format, args);
    buffer[capacity - 1] = L'\0';
}

}  // namespace

void FormatText(wchar_t* buffer, std::size_t capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    FormatTextV(buffer, capacity, format, args);
    va_end(args);
}

void WriteConsoleText(const wchar_t* text) {
    for (; *text != L'\0'; ++text) {
        const auto code = static_cast<uint32_t>(*text);
        std::putchar(code <= 0xFF ? static_cast<int>(code) : '?');
    }
    // A pipe or file would hold the text back until exit; a console program that is ended
    // from outside (or waits in the dispatcher) must already have shown what it said.
    std::fflush(stdout);
}

void PrintConsole(const wchar_t* format, ...) {
    wchar_t line[kConsoleLine];
    va_list args;
    va_start(args, format);
    FormatTextV(line, kConsoleLine, format, args);
    va_end(args);
    WriteConsoleText(line);
}
