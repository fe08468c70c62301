#pragma once
// Filled in with the LED library.
#include <winsim/base.h>
