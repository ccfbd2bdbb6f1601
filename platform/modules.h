// The table of loadable modules of the host layer.
#pragma once

#include "platform/win32_posix.h"

struct PosixExport {
    const char* name;
    FARPROC function;
};

struct PosixModule {
    const char* name;
    const PosixExport* exports; // ends with a null name
};

// Ends with a null name. Defined weakly as empty; a file of this layer that
// provides a module defines it strongly.
const PosixModule* posix_modules();
