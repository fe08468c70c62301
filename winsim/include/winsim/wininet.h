#pragma once
// WinINet's connectivity test.
#include <winsim/base.h>

constexpr DWORD INTERNET_CONNECTION_MODEM = 0x01;
constexpr DWORD INTERNET_CONNECTION_LAN = 0x02;
constexpr DWORD INTERNET_CONNECTION_PROXY = 0x04;
constexpr DWORD INTERNET_CONNECTION_OFFLINE = 0x20;
constexpr DWORD INTERNET_CONNECTION_CONFIGURED = 0x40;

BOOL WINAPI InternetGetConnectedState(LPDWORD flags, DWORD reserved);
