#pragma once
// The only place that chooses between the real Windows headers (product build) and the
// host stand-in. Product code is written against the Win32 names either way.
#ifdef _WIN32
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>
#include <wininet.h>
#include <shellapi.h>
#else
#include <winsim/windows.h>
#endif
