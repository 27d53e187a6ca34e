#pragma once

// The system headers for the window's sources. The A and W forms are always named
// explicitly; the generic macro MessageBox would rename the Window interface's member of
// that name, so it is taken out.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <commctrl.h>

#undef MessageBox
