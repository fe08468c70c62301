#pragma once
// The host stand-in for the parts of the Windows API that the product calls. Each header
// declares only what the product uses, with the documented signatures and values.
#include <winsim/base.h>
#include <winsim/kernel.h>
#include <winsim/sync.h>
#include <winsim/ole.h>
#include <winsim/wmi.h>
#include <winsim/service.h>
#include <winsim/registry.h>
#include <winsim/eventlog.h>
#include <winsim/wininet.h>
#include <winsim/shell.h>
