// A loopback HTTP server for benchmarks: answers every GET with one file as a
// counted body, after a first-byte delay, in paced segments. Prints its port
// on the first line of output and serves until its input is closed.
// Usage: pacing_server FILE [segment burst gap_ms first_delay_ms]
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "tests/support/http_test_server.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [segment burst gap_ms first_delay_ms]\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::ostringstream body;
    body << in.rdbuf();
    const std::string bytes = body.str();
    kt::Send head{"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                  std::to_string(bytes.size()) + "\r\n\r\n"};
    head.delay_ms = argc > 5 ? std::atoi(argv[5]) : 50;
    kt::Send paced{bytes};
    paced.segment = argc > 2 ? std::atoi(argv[2]) : 1460;
    paced.burst = argc > 3 ? std::atoi(argv[3]) : 16;
    paced.gap_ms = argc > 4 ? std::atoi(argv[4]) : 3;
    kt::Reply reply;
    reply.sends = {head, paced};
    kt::ServerOptions options;
    options.repeat = true;
    kt::HttpTestServer server({reply}, options);
    if (!server.listening()) return 1;
    std::printf("%u\n", unsigned(server.port()));
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}
