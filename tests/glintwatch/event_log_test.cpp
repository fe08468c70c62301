// Error events, the error text, and text on the console.
#include "console_text.h"
#include "fixture.h"

namespace {

using EventLogTest = GlintwatchTest;

TEST_F(EventLogTest, WritesOneErrorEventWithTheLastErrorAndTheMessage) {
    struct Case {
        DWORD error;
        const wchar_t* firstString;
    };
    const Case cases[] = {
        {ERROR_ACCESS_DENIED, L"Glintwatch error: 5"},
        {0, L"Glintwatch error: 0"},
        {kSentinelError, L"Glintwatch error: -559038737"},  // written as a signed number
    };
    for (const Case& c : cases) {
        winsim::ResetSystem();
        SetLastError(c.error);
        // The message is passed as it is, never used as a format.
        LogServiceError(L"disk %s at 100%d\n");
        const winsim::LoggedEvent expected{
            L"Glintwatch", EVENTLOG_ERROR_TYPE, 0, 0, {c.firstString, L"disk %s at 100%d\n"}};
        EXPECT_EQ(winsim::LoggedEvents(), std::vector{expected}) << c.firstString;
        EXPECT_EQ(serviceGlobals.lastError, c.error);
    }
}

TEST_F(EventLogTest, KeepsTheLastErrorWhenTheEventSourceCannotBeOpened) {
    winsim::ArmFault("RegisterEventSourceW", 1, ERROR_ACCESS_DENIED);
    SetLastError(ERROR_SERVICE_EXISTS);
    LogServiceError(L"lost");
    EXPECT_TRUE(winsim::LoggedEvents().empty());
    EXPECT_EQ(serviceGlobals.lastError, ERROR_SERVICE_EXISTS);
}

TEST_F(EventLogTest, ConsoleModeLogsNothingAndKeepsTheLastError) {
    serviceGlobals.consoleMode = true;
    serviceGlobals.lastError = 42;
    SetLastError(ERROR_ACCESS_DENIED);
    LogServiceError(L"ignored");
    EXPECT_TRUE(winsim::LoggedEvents().empty());
    EXPECT_EQ(serviceGlobals.lastError, 42u);
    EXPECT_EQ(winsim::CallCount("RegisterEventSourceW"), 0u);
}

TEST_F(EventLogTest, FormatsTheSystemTextWithoutItsLineBreak) {
    struct Case {
        const char* name;
        DWORD error;
        std::optional<std::wstring> systemText;  // none: the system's own
        std::wstring expected;
    };
    const std::wstring longest(240, L'x');  // 242 characters with the line break: still fits
    const Case cases[] = {
        {"access denied", ERROR_ACCESS_DENIED, std::nullopt, L"Access is denied. (0x5)"},
        {"service exists", ERROR_SERVICE_EXISTS, std::nullopt,
         L"The specified service already exists. (0x431)"},
        {"no such message", 0x12345678, std::nullopt, L""},
        {"longest that fits", ERROR_ACCESS_DENIED, longest + L"\r\n", longest + L" (0x5)"},
        {"one character too long", ERROR_ACCESS_DENIED, longest + L"x\r\n", L""},
        {"no line break to drop", ERROR_ACCESS_DENIED, L"X", L"X (0x5)"},
    };
    for (const Case& c : cases) {
        winsim::ResetSystem();
        if (c.systemText) winsim::SetSystemMessage(c.error, *c.systemText);
        SetLastError(c.error);
        EXPECT_EQ(std::wstring(FormatLastError()), c.expected) << c.name;
    }
}

TEST_F(EventLogTest, FormatLastErrorIsEmptyWhenTheSystemGivesNoText) {
    winsim::ArmFault("FormatMessageW", 1, ERROR_NOT_ENOUGH_MEMORY);
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_STREQ(FormatLastError(), L"");
}

TEST(ConsoleTextTest, WritesCharactersAboveU00FFAsQuestionMarks) {
    const std::string output =
        CaptureOutput([] { WriteConsoleText(L"A\u00e9\u00ff\u0100\u20ac\u4e2dz\n"); });
    EXPECT_EQ(output, "A\xe9\xff???z\n");
}

TEST(ConsoleTextTest, PrintsWideArgumentsByTheSameRule) {
    const std::string output =
        CaptureOutput([] { PrintConsole(L"%ls installed.\n", L"Caf\u00e9 \u2192 LED"); });
    EXPECT_EQ(output, "Caf\xe9 ? LED installed.\n");
}

TEST(ConsoleTextTest, CutsFormattedTextToItsBuffer) {
    wchar_t buffer[8];
    FormatText(buffer, L"%ls-%d", L"abcdefghij", 5);
    EXPECT_STREQ(buffer, L"abcdefg");
    FormatText(buffer, L"%d", 42);
    EXPECT_STREQ(buffer, L"42");
}

}  // namespace
