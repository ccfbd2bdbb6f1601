// Shared test scaffolding: the runtime the libraries expect (main heap,
// string engine), temporary directories and whole-file helpers.
#pragma once

#include <filesystem>
#include <string>

#include "core/runtime.h"

namespace kt {

// Creates the main heap and starts the string engine, as the program does
// before any library; undoes both on destruction.
struct Runtime {
    Runtime();
    ~Runtime();
    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;
};

// A fresh directory, removed with its contents on destruction.
struct TempDir {
    TempDir();
    ~TempDir();
    std::string file(const std::string& name) const;
    std::filesystem::path path;
};

// Live blocks of a heap and, in the host build, every allocation it ever
// made (on Windows the live count stands for both).
struct HeapCounts {
    size_t live = 0;
    size_t allocations = 0;
};
HeapCounts heap_counts(HANDLE heap = main_heap);

#ifdef _WIN32
// While it lives the main heap is a full one of fixed size: every block
// asked of it is refused, as when memory runs short.
struct MainHeapFull {
    MainHeapFull();
    ~MainHeapFull();
    MainHeapFull(const MainHeapFull&) = delete;
    MainHeapFull& operator=(const MainHeapFull&) = delete;
    HANDLE saved;
    HANDLE full;
};

// The GDI objects this process holds. Windows counts them for
// GetGuiResources; Wine answers 0 there, but its GDI handle table, which the
// process environment block names as on Windows, has a typed entry for
// each object.
size_t gdi_objects();
#endif

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);
// A file of the shared test data, as a path this build's file calls accept.
std::string testdata(const std::string& relative);

} // namespace kt
