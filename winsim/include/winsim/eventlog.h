#pragma once
// The event log: event sources and the events reported through them.
#include <winsim/base.h>

typedef void* PSID;

constexpr WORD EVENTLOG_SUCCESS = 0x0000;
constexpr WORD EVENTLOG_ERROR_TYPE = 0x0001;
constexpr WORD EVENTLOG_WARNING_TYPE = 0x0002;
constexpr WORD EVENTLOG_INFORMATION_TYPE = 0x0004;

HANDLE WINAPI RegisterEventSourceW(LPCWSTR serverName, LPCWSTR sourceName);
BOOL WINAPI ReportEventW(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID userSid,
                         WORD stringCount, DWORD dataSize, LPCWSTR* strings, LPVOID rawData);
BOOL WINAPI DeregisterEventSource(HANDLE eventLog);
