// The one include of the SimConnect header, with what Windows needs before it.
#pragma once

// The one place that includes the SimConnect header. The SDK header expects the
// Windows types to be declared already, so Windows builds include <windows.h>
// first; the substitute header declares them itself elsewhere.
#ifdef _WIN32
#include "platform/windows_api.h"
#endif

#include <SimConnect.h>
