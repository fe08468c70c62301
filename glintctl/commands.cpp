// The command line and the commands: detect, on, off, mode8, mode1, state and help.
#include <cstdint>
#include <cstdio>
#include <iterator>

#include "glintctl.h"
#include "owners.h"

namespace {

constexpr char kUsage[] =
    "usage: glintctl <command>\n"
    "\n"
    "  detect   checks whether the firmware has the LED control; prints the library version\n"
    "  on       switches the LED on\n"
    "  off      switches the LED off\n"
    "  mode8    puts the LED into the firmware's mode 8\n"
    "  mode1    puts the LED into the firmware's mode 1\n"
    "  state    prints the LED state: on, off, mode8, mode1 or unknown\n"
    "  help     prints this text (also -h, --help, /?)\n"
    "\n"
    "Exit status: 0 success, 1 the library or the firmware failed, 2 a usage error.\n"
    "glintctl may run while the Glintwatch service runs; the service then sets the LED\n"
    "again within a second.\n";

constexpr const char* kHelpWords[] = {"help", "-h", "--help", "/?"};

// Indexed by the LED state the library reports.
constexpr const char* kStateWords[] = {"unknown", "on", "off", "mode8", "mode1"};

struct Command;
using CommandRun = int (*)(const Command&);

struct Command {
    const char* word;
    CommandRun run;
    const char* failedAction;  // what could not be done, for the failure line
    uint32_t ledState;         // the state a switching command sets
    const char* done;          // the success line of a switching command
};

int RunDetect(const Command& command);
int RunSetState(const Command& command);
int RunGetState(const Command& command);

constexpr Command kCommands[] = {
    {"detect", RunDetect, "check for the LED control", 0, nullptr},
    {"on", RunSetState, "switch the LED on", LED_STATE_ON, "LED switched on"},
    {"off", RunSetState, "switch the LED off", LED_STATE_OFF, "LED switched off"},
    {"mode8", RunSetState, "put the LED into mode 8", LED_STATE_MODE_8, "LED in mode8"},
    {"mode1", RunSetState, "put the LED into mode 1", LED_STATE_MODE_1, "LED in mode1"},
    {"state", RunGetState, "read the LED state", 0, nullptr},
};

// Commands are words a Windows user may type in any letter case.
bool EqualsIgnoringAsciiCase(const char* text, const char* word) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (; *text != '\0' && *word != '\0'; ++text, ++word)
        if (lower(*text) != lower(*word)) return false;
    return *text == *word;
}

bool IsHelp(const char* word) {
    for (const char* help : kHelpWords)
        if (EqualsIgnoringAsciiCase(word, help)) return true;
    return false;
}

const Command* FindCommand(const char* word) {
    for (const Command& command : kCommands)
        if (EqualsIgnoringAsciiCase(word, command.word)) return &command;
    return nullptr;
}

int UsageError(const char* problem, const char* word = "") {
    std::fprintf(stderr, "glintctl: %s%s\n\n", problem, word);
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

// The library's own results in the words of a laptop owner; null for any other code.
const char* LibraryResultText(ZELV_RESULT result) {
    switch (result) {
        case LED_E_CLASS_NOT_FOUND:
            return "this machine's firmware has no LED control class";
        case LED_E_BUFFER_TOO_SMALL:
            return "the firmware's buffer is too small";
        case LED_E_DEVICE_STATUS_1:
            return "the firmware refused the command (status 1)";
        case LED_E_DEVICE_STATUS_2:
            return "the firmware refused the command (status 2)";
        case LED_E_DEVICE_STATUS_3:
            return "the firmware refused the command (status 3)";
        case LED_E_INVALID_STATE:
            return "the library does not know that LED state";
        case LED_E_DEVICE_FAILURE:
            return "the firmware refused the command (status 5 or above)";
        default:
            return nullptr;
    }
}

// Writes the system's text for `code` on one line, without its closing line break; false
// when the system has no text for it. Characters outside ASCII are shown as '?': which code
// page the console shows bytes in is not known here.
bool WriteSystemText(DWORD code, std::FILE* stream) {
    LocalText text;
    // Inserts are left as they are: nothing here could fill them.
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(text.put()), 0, nullptr);
    const LPWSTR characters = text.get();
    auto isSpace = [](wchar_t c) { return c == L' ' || c == L'\r' || c == L'\n' || c == L'\t'; };
    while (length > 0 && isSpace(characters[length - 1])) --length;
    if (length == 0) return false;
    for (DWORD i = 0; i < length; ++i) {
        const auto unit = static_cast<uint32_t>(characters[i]);
        if (unit == L'\r') continue;
        std::fputc(unit == L'\n' ? ' ' : unit < 0x80 ? static_cast<int>(unit) : '?', stream);
    }
    return true;
}

// One line on standard error: what failed, why, and the code.
int ReportFailure(const char* failedAction, HRESULT result) {
    const auto code = static_cast<uint32_t>(result);
    std::fprintf(stderr, "glintctl: cannot %s: ", failedAction);
    if (const char* words = LibraryResultText(result)) {
        std::fputs(words, stderr);
    } else if (!WriteSystemText(code, stderr)) {
        std::fputs("Windows gave no description of this error", stderr);
    }
    std::fprintf(stderr, " (0x%08X)\n", static_cast<unsigned>(code));
    return kExitFailure;
}

int RunDetect(const Command& command) {
    int32_t major = 0;
    int32_t minor = 0;
    int32_t build = 0;
    const ZELV_RESULT result = Zelv_LedDetect(&major, &minor, &build);
    // The library fills in its version whatever the firmware answers.
    std::printf("Glintlamp version %d.%d, build %d\n", static_cast<int>(major),
                static_cast<int>(minor), static_cast<int>(build));
    std::fflush(stdout);  // before the failure line, when both go to one console
    if (result != 0) return ReportFailure(command.failedAction, result);
    std::puts("LED control: found");
    return kExitSuccess;
}

int RunSetState(const Command& command) {
    const ZELV_RESULT result = Zelv_LedSetState(command.ledState);
    if (result != 0) return ReportFailure(command.failedAction, result);
    std::puts(command.done);
    return kExitSuccess;
}

int RunGetState(const Command& command) {
    int32_t state = LED_STATE_UNKNOWN;
    const ZELV_RESULT result = Zelv_LedGetState(&state);
    if (result != 0) return ReportFailure(command.failedAction, result);
    const bool known = state >= 0 && state < static_cast<int32_t>(std::size(kStateWords));
    std::puts(known ? kStateWords[state] : kStateWords[LED_STATE_UNKNOWN]);
    return kExitSuccess;
}

}  // namespace

int GlintctlMain(int argc, char** argv) {
    if (argc < 2) return UsageError("no command given");
    if (argc > 2) return UsageError("too many arguments");
    if (IsHelp(argv[1])) {
        std::fputs(kUsage, stdout);
        return kExitSuccess;
    }
    const Command* command = FindCommand(argv[1]);
    if (command == nullptr) return UsageError("unknown command: ", argv[1]);

    ComApartment apartment;
    if (const HRESULT entered = apartment.Enter(COINIT_APARTMENTTHREADED); FAILED(entered))
        return ReportFailure("start COM", entered);
    const LedLibraryScope library;
    return command->run(*command);
}
