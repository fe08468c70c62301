// Formats one message of a program's message table the way Event Viewer does for an event:
// the program loaded as a data file, the event's strings as an argument array.
//   msgtable <program> <message id> <string>...
// Prints "text=" and the formatted UTF-16 text as hexadecimal code units (so no code page
// stands between the bytes and the test), or "error=<n>" when a call fails.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <vector>

#include "system_owners.h"
#include "unique_resource.h"

namespace {

void ReleaseModule(HMODULE module) { FreeLibrary(module); }
using UniqueModule = UniqueResource<HMODULE, ReleaseModule>;
void FreeArguments(LPWSTR* argv) { LocalFree(argv); }
using ArgumentBlock = UniqueResource<LPWSTR*, FreeArguments>;

int Fail(const char* what) {
    std::printf("%s error=%lu\n", what, GetLastError());
    return 1;
}

}  // namespace

int main() {
    int argc = 0;
    ArgumentBlock arguments(CommandLineToArgvW(GetCommandLineW(), &argc));
    if (!arguments || argc < 3) {
        std::fprintf(stderr, "usage: msgtable <program> <message id> <string>...\n");
        return 2;
    }
    LPWSTR* argv = arguments.get();
    UniqueModule module(LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module) return Fail("LoadLibraryExW");
    const DWORD messageId = std::wcstoul(argv[2], nullptr, 0);
    std::vector<DWORD_PTR> strings;
    for (int n = 3; n < argc; ++n) strings.push_back(reinterpret_cast<DWORD_PTR>(argv[n]));

    LocalText text;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                           FORMAT_MESSAGE_ARGUMENT_ARRAY,
                       module.get(), messageId, 0, reinterpret_cast<LPWSTR>(text.put()), 0,
                       reinterpret_cast<va_list*>(strings.data()));
    if (length == 0) return Fail("FormatMessageW");
    std::printf("text=");
    for (DWORD n = 0; n < length; ++n) std::printf("%04x", static_cast<unsigned>(text.get()[n]));
    std::printf("\n");
    return 0;
}
