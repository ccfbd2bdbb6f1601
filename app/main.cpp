// Kestrin's main procedure: starts the libraries in their fixed order, does
// the work once, and ends them in their fixed order. The exit code is 0 on
// every path.
#include "app/extract.h"
#include "app/fetch.h"
#include "core/strings.h"
#include "file/file_stream.h"
#include "net/network.h"

// The catalogue server, a build setting.
#ifndef KESTRIN_CATALOGUE_SITE
#define KESTRIN_CATALOGUE_SITE "celestrak.org"
#endif
constexpr char CATALOGUE_SITE[] = KESTRIN_CATALOGUE_SITE;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    StringVar temp_path = nullptr;
    module_handle = GetModuleHandleA(nullptr);
    main_heap = HeapCreate(0, 4096, 0);

    string_engine_start();
    file_streams_start();

    network_start();
    fetch_catalogue(CATALOGUE_SITE, &temp_path);
    extract_element_set(temp_path, OUTPUT_FILE_NAME);
    delete_file(temp_path);

    network_end();
    file_streams_end();
    string_engine_end();
    HeapDestroy(main_heap);
    ExitProcess(0);
}
