// The one include of the Win32 declarations. Library code includes this and
// nothing platform-specific: on Windows it is <windows.h> itself, in the host
// build the POSIX implementation of the few calls the libraries make.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include "platform/win32_posix.h"
#endif
