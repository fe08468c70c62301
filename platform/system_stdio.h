// Read first in every C and C++ source of the windows build (cmake/windows_release.cmake).
//
// The C++ standard library's headers switch mingw's stdio to its own C99 printf family, and
// that formatter (floating point included) is then linked into every binary that prints
// anything. Our formats (%s, %ls, %d, %x, %08X) come out the same from the system's msvcrt,
// which every Windows has. Reading the C headers here first, with the switch off, binds
// printf, fprintf, vswprintf and the rest to msvcrt; the switch that comes later finds them
// already read. Where the two differ, msvcrt decides: %s in a wide format takes a wide string,
// %zu and long double are unknown, and vswprintf leaves a cut text unterminated (callers
// terminate it). The compiler checks narrow formats against msvcrt's rules.
#pragma once

// NOLINTNEXTLINE(bugprone-reserved-identifier,cppcoreguidelines-macro-usage): mingw's switch
#define __USE_MINGW_ANSI_STDIO 0
#include <stdio.h>
#include <wchar.h>
