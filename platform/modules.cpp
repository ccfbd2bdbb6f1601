// Run-time loading. The host build has no DLLs: LoadLibraryA knows only the
// modules this layer provides, listed in posix_modules (empty unless another
// file of this folder supplies it).
#include "platform/win32_posix.h"
#include "platform/modules.h"

#include <cstring>
#include <strings.h>

HMODULE LoadLibraryA(LPCSTR name) {
    if (!name) return nullptr;
    for (const PosixModule* m = posix_modules(); m && m->name; m++)
        if (strcasecmp(m->name, name) == 0) return const_cast<PosixModule*>(m);
    return nullptr;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    auto* m = static_cast<const PosixModule*>(module);
    if (!m || !name) return nullptr;
    for (const PosixExport* e = m->exports; e && e->name; e++)
        if (std::strcmp(e->name, name) == 0) return e->function;
    return nullptr;
}

BOOL FreeLibrary(HMODULE module) {
    return module != nullptr;
}

__attribute__((weak)) const PosixModule* posix_modules() {
    return nullptr;
}
