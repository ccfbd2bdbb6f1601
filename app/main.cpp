// Kestrin's main procedure: starts the libraries in their fixed order, does
// the work once, and ends them in their fixed order. The exit code is 0 on
// every path.
#include "app/extract.h"
#include "core/strings.h"
#include "file/file_stream.h"

namespace {

constexpr char TEMP_FILE_NAME[] = "tmp1";

// The directory of the executable followed by the temporary file's name.
void build_temp_path(StringVar* temp_path) {
    const int32_t mark = string_mark();
    program_filename(mark);
    get_path_part(string_at(mark), mark);
    append(TEMP_FILE_NAME);
    assign(temp_path, mark);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    StringVar temp_path = nullptr;
    module_handle = GetModuleHandleA(nullptr);
    main_heap = HeapCreate(0, 4096, 0);

    string_engine_start();
    file_streams_start();

    build_temp_path(&temp_path);
    extract_element_set(temp_path, OUTPUT_FILE_NAME);
    delete_file(temp_path);

    file_streams_end();
    string_engine_end();
    HeapDestroy(main_heap);
    ExitProcess(0);
}
