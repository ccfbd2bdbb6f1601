// Downloads one URL into a file with download_file and prints the byte
// count, for bench/run.sh to time against other clients.
// Usage: download_bench URL FILE
#include <cstdio>

#include "core/runtime.h"
#include "core/strings.h"
#include "http/download.h"
#include "net/network.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s URL FILE\n", argv[0]);
        return 2;
    }
    main_heap = HeapCreate(0, 4096, 0);
    string_engine_start();
    network_start();
    const int32_t count = download_file(argv[1], argv[2]);
    network_end();
    string_engine_end();
    HeapDestroy(main_heap);
    std::printf("%d\n", int(count));
    return count > 0 ? 0 : 1;
}
