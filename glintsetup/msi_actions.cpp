// The installer's custom actions: deferred, run by the installer's service as LocalSystem.
// Each takes what it needs from CustomActionData, the only property a deferred action can
// read, and writes its lines into the installer's log.
#include <platform.h>
#include <unique_resource.h>

#include <msi.h>
#include <msiquery.h>

#include "setup_actions.h"

namespace {

inline void CloseMsiHandle(MSIHANDLE handle) { MsiCloseHandle(handle); }
using MsiRecord = UniqueResource<MSIHANDLE, CloseMsiHandle>;

void WriteToInstallLog(void* context, const wchar_t* line) {
    MsiRecord record(MsiCreateRecord(0));
    if (!record) return;
    MsiRecordSetStringW(record.get(), 0, line);
    MsiProcessMessage(*static_cast<MSIHANDLE*>(context), INSTALLMESSAGE_INFO, record.get());
}

// The installer's result for an action: a failure rolls the installation back.
UINT ActionResult(DWORD error) {
    return error == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

}  // namespace

// CustomActionData: the install folder.
extern "C" UINT __stdcall InstallGlintwatchService(MSIHANDLE install) {
    SetupReporter report{WriteToInstallLog, &install};
    wchar_t installDir[kInstallDirCapacity];
    DWORD length = kInstallDirCapacity;
    if (MsiGetPropertyW(install, L"CustomActionData", installDir, &length) != ERROR_SUCCESS) {
        report.write(report.context, L"Glintwatch setup: the install folder could not be read.");
        return ERROR_INSTALL_FAILURE;
    }
    return ActionResult(InstallLedService(installDir, report));
}

extern "C" UINT __stdcall RemoveGlintwatchService(MSIHANDLE install) {
    return ActionResult(RemoveLedService({WriteToInstallLog, &install}));
}
