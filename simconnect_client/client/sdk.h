#pragma once

// The SimConnect header as the library's own files see it: like the SDK's,
// it expects the Windows types to be declared first on Windows.
#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winsock2.h>
#endif

#include <SimConnect.h>
