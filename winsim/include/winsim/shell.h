#pragma once
// The shell's command-line splitter. The array it returns is one block of local memory.
#include <winsim/base.h>

LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR commandLine, int* argc);
