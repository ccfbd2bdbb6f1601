// Replays the JPEG fuzz target without libFuzzer: the window picture and
// deterministic mutations of it (flipped bits, overwritten bytes, cuts,
// repeated spans), so every build runs the target under its sanitizers.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "resources/picture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    long rounds = argc > 1 ? std::atol(argv[1]) : 3000;
    const std::vector<uint8_t> seed(kestrin_picture, kestrin_picture + kestrin_picture_size);
    uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    LLVMFuzzerTestOneInput(seed.data(), seed.size());
    for (long i = 0; i < rounds; i++) {
        std::vector<uint8_t> data = seed;
        int edits = 1 + int(next() % 4);
        for (int e = 0; e < edits; e++) {
            size_t at = next() % data.size();
            switch (next() % 4) {
            case 0:
                data[at] ^= uint8_t(1u << (next() % 8));
                break;
            case 1:
                data[at] = uint8_t(next());
                break;
            case 2:
                data.resize(at + 2 > data.size() ? data.size() : at + 2);
                break;
            default: {
                size_t len = 1 + next() % 64;
                if (at + len <= data.size())
                    data.insert(data.begin() + long(next() % data.size()), data.begin() + long(at),
                                data.begin() + long(at + len));
            }
            }
        }
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    std::printf("%ld mutated inputs decoded without a fault\n", rounds);
    return 0;
}
