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

#ifdef _WIN32
MainHeapFull::MainHeapFull() : saved(main_heap), full(HeapCreate(0, 0, 64 * 1024)) {
    EXPECT_NE(full, nullptr);
    for (SIZE_T size = 64 * 1024; full && size > 0; size /= 2)
        while (HeapAlloc(full, 0, size)) {
        }
    main_heap = full;
}

MainHeapFull::~MainHeapFull() {
    main_heap = saved;
    if (full) HeapDestroy(full);
}

size_t gdi_objects() {
    if (DWORD n = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)) return n;
    // Wine's entries: object (8 bytes), owner (4), unique (2), type (1),
    // flags (1), user pointer (8), in both widths; 65536 of them.
    struct Entry {
        uint64_t object;
        uint32_t owner;
        uint16_t unique;
        uint8_t type;
        uint8_t flags;
        uint64_t user;
    };
    static_assert(sizeof(Entry) == 24);
    using GetPeb = const char*(WINAPI*)();
    const auto current_peb = reinterpret_cast<GetPeb>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetCurrentPeb")));
    const char* peb = current_peb ? current_peb() : nullptr;
    const Entry* table =
        peb ? *reinterpret_cast<const Entry* const*>(peb + (sizeof(void*) == 8 ? 0xF8 : 0x94))
            : nullptr; // GdiSharedHandleTable
    size_t n = 0;
    if (table)
        for (size_t i = 0; i < 0x10000; i++)
            n += table[i].type != 0;
    EXPECT_NE(n, 0u) << "no GDI handle table to count";
    return n;
}
#endif

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
