// A deterministic stand-in for the fuzzing engine, for compilers without
// libFuzzer: feeds the target a fixed-seed mix of mutated well-formed
// responses and random bytes. Usage: download_fuzz_smoke [runs] [seed]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern long fuzz_files_written;

namespace {

const char* const seeds[] = {
    "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello",
    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n1a;x\r\n"
    "abcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n",
    "HTTP/1.1 302 Found\r\nLocation: /x\r\n\r\nuntil close",
    "HTTP/1.1 200 OK\nContent-Length:3\n\nabc",
    "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nTransfer-Encoding: "
    "chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
    "HTTP/1.1 404 Not Found\r\n\r\n",
};

const char* const pieces[] = {"\r\n",
                              "\n",
                              "\r",
                              "0",
                              "ffffffff",
                              "7fffffff",
                              "-1",
                              ";",
                              "Content-Length: ",
                              "Transfer-Encoding: chunked",
                              "200",
                              " ",
                              "\0"};

std::string mutate(std::string s, std::mt19937& random) {
    const int edits = int(random() % 4);
    for (int i = 0; i < edits; i++) {
        const size_t at = s.empty() ? 0 : random() % (s.size() + 1);
        switch (random() % 4) {
        case 0: // flip a byte
            if (at < s.size()) s[at] = char(random());
            break;
        case 1: // drop a run
            if (at < s.size()) s.erase(at, random() % 8);
            break;
        case 2: // insert a meaningful piece
            s.insert(at, pieces[random() % (sizeof pieces / sizeof *pieces)]);
            break;
        default: // insert random bytes
            for (int k = int(random() % 6); k > 0; k--)
                s.insert(s.begin() + long(at), char(random()));
        }
    }
    return s;
}

} // namespace

int main(int argc, char** argv) {
    const long runs = argc > 1 ? std::atol(argv[1]) : 300;
    std::mt19937 random(argc > 2 ? unsigned(std::atol(argv[2])) : 20240617u);
    for (long run = 0; run < runs; run++) {
        std::string response;
        if (random() % 5 == 0) {
            for (int n = int(random() % 300); n > 0; n--)
                response += char(random());
        } else {
            response = mutate(seeds[random() % (sizeof seeds / sizeof *seeds)], random);
        }
        std::string input(1, char(random() % 4));
        for (int k = 0; k < 3; k++) {
            const size_t cut = response.empty() ? 0 : random() % response.size();
            input += char(cut >> 8);
            input += char(cut & 0xFF);
        }
        input += response;
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    }
    std::printf("download_fuzz_smoke: %ld inputs, %ld with a file, no finding\n", runs,
                fuzz_files_written);
    return 0;
}
