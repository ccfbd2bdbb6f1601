// The one include of the Windows Sockets declarations for the network layer:
// the Windows headers on Windows (Winsock 1.1 calls, imported from
// WSOCK32.DLL; the newer headers only for the address-information types), the
// host build's BSD implementation elsewhere.
#pragma once

#include "core/win32.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include "platform/winsock_posix.h"
#endif
