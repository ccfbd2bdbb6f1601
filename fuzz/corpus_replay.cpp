// Replays a fuzz target without libFuzzer over the files of the given
// directories, in name order: the committed corpus and every past finding
// run in each build under its sanitizers. A directory that is missing is
// skipped; no input at all is a failure, so a replay cannot pass unseen.
// Usage: <target>_replay DIR...
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; i++) {
        std::string dir = argv[i];
#ifdef _WIN32
        // Under Wine the Unix file system is drive Z:.
        if (!dir.empty() && dir[0] == '/') dir = "Z:" + dir;
#endif
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
            if (entry.is_regular_file()) inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());
    for (const auto& path : inputs) {
        std::ifstream in(path, std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                      std::istreambuf_iterator<char>()};
        // Never a null pointer, even for an empty input, as libFuzzer gives.
        static const uint8_t none = 0;
        const auto* data = bytes.empty() ? &none : reinterpret_cast<const uint8_t*>(bytes.data());
        LLVMFuzzerTestOneInput(data, bytes.size());
    }
    std::printf("%zu inputs replayed without a finding\n", inputs.size());
    return inputs.empty() ? 1 : 0;
}
