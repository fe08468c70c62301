#pragma once
// Filled in with the service program.
#include <winsim/base.h>
