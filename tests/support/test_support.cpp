#include "tests/support/test_support.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "core/strings.h"

namespace kt {

Runtime::Runtime() {
    main_heap = HeapCreate(0, 4096, 0);
    module_handle = GetModuleHandleA(nullptr);
    EXPECT_TRUE(main_heap);
    EXPECT_TRUE(string_engine_start());
}

Runtime::~Runtime() {
    string_engine_end();
    HeapDestroy(main_heap);
    main_heap = nullptr;
}

HeapCounts heap_counts(HANDLE heap) {
    HeapCounts c;
#ifdef _WIN32
    PROCESS_HEAP_ENTRY entry{};
    HeapLock(heap);
    while (HeapWalk(heap, &entry))
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) c.live++;
    HeapUnlock(heap);
    c.allocations = c.live;
#else
    SIZE_T live, allocations;
    posix_heap_counts(heap, &live, &allocations);
    c.live = live;
    c.allocations = allocations;
#endif
    return c;
}

TempDir::TempDir() {
    static std::atomic<int> counter;
    auto base = std::filesystem::temp_directory_path();
    for (int i = 0; i < 1000; i++) {
        auto candidate = base / ("kestrin-test-" + std::to_string(std::rand()) + "-" +
                                 std::to_string(counter++));
        if (std::filesystem::create_directory(candidate)) {
            path = candidate;
            return;
        }
    }
    ADD_FAILURE() << "no temporary directory";
}

TempDir::~TempDir() {
    std::error_code ec;
    // Read-only files left by a test must not keep the directory alive.
    for (auto& entry : std::filesystem::recursive_directory_iterator(path, ec))
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path, ec);
}

std::string TempDir::file(const std::string& name) const {
    return (path / name).string();
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

bool file_exists(const std::string& path) {
    return std::filesystem::exists(path);
}

std::string testdata(const std::string& relative) {
    const char* root = std::getenv("KESTRIN_TESTDATA");
    std::string path = std::string(root ? root : "../shared/testdata") + "/" + relative;
#ifdef _WIN32
    // Under Wine the Unix file system is drive Z:.
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
#endif
    return path;
}

} // namespace kt
