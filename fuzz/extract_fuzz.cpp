// Fuzz target: arbitrary bytes as the downloaded catalogue, through the
// extraction with its usable-set check, the way the program runs it (file
// streams 0 and 10 on real files). Without the name nothing is found; with
// it the set is written or refused. Written, the output is the name and two
// lines that pass the usable-set check and stand in the catalogue; not
// written, the previous output is untouched.
//
// Input: the catalogue's bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "app/element_set.h"
#include "app/extract.h"
#include "core/strings.h"
#include "file/file_stream.h"

#ifndef _WIN32
#include <unistd.h>
#else
#include <process.h>
#define getpid _getpid
#endif

namespace {

constexpr std::string_view PREVIOUS = "previous element set\r\n";

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "extract_fuzz: %s\n", what);
    std::abort();
}

struct Paths {
    std::string catalogue, output;
};

// Memory-backed when the system has it: every input is two small files.
const Paths& paths() {
    static const Paths p = [] {
        std::error_code ec;
        std::filesystem::path dir = "/dev/shm";
        if (!std::filesystem::is_directory(dir, ec)) dir = std::filesystem::temp_directory_path();
        const std::string base = "kestrin-extract-fuzz-" + std::to_string(getpid());
        Paths made{(dir / (base + "-tmp1")).string(), (dir / (base + "-norad_M2.txt")).string()};
        main_heap = HeapCreate(0, 4096, 0);
        if (!file_streams_start()) fail("file streams did not start");
        std::atexit([] {
            std::remove(paths().catalogue.c_str());
            std::remove(paths().output.c_str());
        });
        return made;
    }();
    return p;
}

void put(const std::string& path, std::string_view bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) fail("cannot write");
    std::fclose(f);
}

std::string get(const std::string& path) {
    std::string bytes;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    char block[4096];
    for (size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;)
        bytes.append(block, n);
    std::fclose(f);
    return bytes;
}

// The written output: the name and two lines, each ended by CR LF.
bool split_output(std::string_view out, std::string_view* line1, std::string_view* line2) {
    const std::string_view name = SATELLITE_NAME;
    if (out.substr(0, name.size()) != name || out.substr(name.size(), 2) != "\r\n") return false;
    out.remove_prefix(name.size() + 2);
    const size_t end1 = out.find("\r\n");
    if (end1 == std::string_view::npos) return false;
    *line1 = out.substr(0, end1);
    out.remove_prefix(end1 + 2);
    const size_t end2 = out.find("\r\n");
    if (end2 == std::string_view::npos || end2 + 2 != out.size()) return false;
    *line2 = out.substr(0, end2);
    return line1->find_first_of("\r\n") == std::string_view::npos &&
           line2->find_first_of("\r\n") == std::string_view::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Paths& p = paths();
    const std::string_view catalogue(reinterpret_cast<const char*>(data), size);
    put(p.catalogue, catalogue);
    // The previous output is put back only when a set replaced it.
    static bool previous_in_place = false;
    if (!previous_in_place) put(p.output, PREVIOUS);
    previous_in_place = true;
    // String variables live until the engine ends: one engine per input.
    if (!string_engine_start()) fail("string engine did not start");
    const ExtractResult result = extract_element_set(p.catalogue.c_str(), p.output.c_str());
    string_engine_end();
    const std::string out = get(p.output);

    const bool named = catalogue.find(SATELLITE_NAME) != std::string_view::npos;
    switch (result) {
    case ExtractResult::written: {
        std::string_view line1, line2;
        if (!named) fail("written without the name");
        if (!split_output(out, &line1, &line2)) fail("output is not the name and two lines");
        if (!usable_element_set(line1, line2)) fail("written set is not usable");
        previous_in_place = false;
        if (catalogue.find(line1) == std::string_view::npos ||
            catalogue.find(line2) == std::string_view::npos)
            fail("written lines are not the catalogue's");
        break;
    }
    case ExtractResult::not_found:
    case ExtractResult::unusable:
        if (named != (result == ExtractResult::unusable)) fail("name found or missed wrongly");
        if (out != PREVIOUS) fail("output changed without a set written");
        break;
    case ExtractResult::catalogue_unopenable:
    case ExtractResult::catalogue_unreadable:
    case ExtractResult::output_unwritable:
        fail("catalogue unopenable or unreadable, or output unwritable");
    }
    return 0;
}
