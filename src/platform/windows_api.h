// <windows.h> as this program includes it.
#pragma once

// <windows.h> without its min/max macros and rarely used parts; Windows
// sources of the platform layer include it through here.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
