// A test-only wininet.dll for the program under test: the internet connection is on while
// the flag file C:\glintsim\online exists, so the test can switch it both ways.
#include <windows.h>

namespace {
constexpr DWORD kConnectionLan = 0x02;
constexpr char kOnlineFlag[] = "C:\\glintsim\\online";
}  // namespace

extern "C" BOOL WINAPI InternetGetConnectedState(DWORD* flags, DWORD /*reserved*/) {
    bool online = GetFileAttributesA(kOnlineFlag) != INVALID_FILE_ATTRIBUTES;
    if (flags) *flags = online ? kConnectionLan : 0;
    return online ? TRUE : FALSE;
}
