#pragma once
// Text for the console and the fixed buffers messages are formatted into.
#include <cstddef>

// Formats into `buffer`, cut to its capacity and always terminated. Wide strings are
// passed with "%ls".
void FormatText(wchar_t* buffer, std::size_t capacity, const wchar_t* format, ...);
template <std::size_t N, typename... Args>
void FormatText(wchar_t (&buffer)[N], const wchar_t* format, Args... args) {
    FormatText(static_cast<wchar_t*>(buffer), N, format, args...);
}

// Writes wide text to standard output as the C library's default locale does: a character
// up to U+00FF as the one byte of the same value, any other character as '?'. The text is
// flushed at once.
void WriteConsoleText(const wchar_t* text);
// Formats a wide message (cut to a console line of 1024 characters) and writes it.
void PrintConsole(const wchar_t* format, ...);
