#include "tests/support/http_test_server.h"

#include <chrono>
#include <cstring>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
using socklen = int;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
using SOCKET = int;
using socklen = socklen_t;
constexpr int SD_SEND = SHUT_WR;
#endif

namespace kt {

namespace {

using clock = std::chrono::steady_clock;

void close_socket(uintptr_t s) {
#ifdef _WIN32
    closesocket(SOCKET(s));
#else
    close(int(s));
#endif
}

// Waits up to ms for s to become readable; true when it did.
bool readable(uintptr_t s, int ms) {
#ifdef _WIN32
    fd_set set;
    FD_ZERO(&set);
    FD_SET(SOCKET(s), &set);
    timeval t{ms / 1000, (ms % 1000) * 1000};
    return select(0, &set, nullptr, nullptr, &t) > 0;
#else
    pollfd p{int(s), POLLIN, 0};
    return poll(&p, 1, ms) > 0;
#endif
}

bool send_bytes(uintptr_t s, const char* data, size_t n) {
    while (n > 0) {
#ifdef _WIN32
        int r = send(SOCKET(s), data, int(n), 0);
#else
        ssize_t r = send(int(s), data, n, MSG_NOSIGNAL);
#endif
        if (r <= 0) return false;
        data += r;
        n -= size_t(r);
    }
    return true;
}

long receive_bytes(uintptr_t s, char* buffer, size_t n) {
    return long(recv(SOCKET(s), buffer, int(n), 0));
}

struct WinsockUser {
    WinsockUser() {
#ifdef _WIN32
        WSADATA data;
        WSAStartup(0x0202, &data);
#endif
    }
    ~WinsockUser() {
#ifdef _WIN32
        WSACleanup();
#endif
    }
};

uintptr_t listen_on(bool ipv6, uint16_t port, uint16_t* bound) {
    static WinsockUser winsock; // for the life of the process
    SOCKET s = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
#ifdef _WIN32
    if (s == INVALID_SOCKET) return ~uintptr_t(0);
#else
    if (s < 0) return ~uintptr_t(0);
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
#endif
    sockaddr_storage address{};
    socklen length;
    if (ipv6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&address);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(port);
        a->sin6_addr = in6addr_loopback;
        length = sizeof(sockaddr_in6);
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&address);
        a->sin_family = AF_INET;
        a->sin_port = htons(port);
        a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof(sockaddr_in);
    }
    if (bind(s, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(s, 16) != 0) {
        close_socket(uintptr_t(s));
        return ~uintptr_t(0);
    }
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    *bound = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                        : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    return uintptr_t(s);
}

} // namespace

Reply reply(std::string bytes, Ending ending) {
    Reply r;
    r.sends.push_back(Send{std::move(bytes)});
    r.ending = ending;
    return r;
}

Reply split_reply(const std::string& bytes, const std::vector<size_t>& cuts, int delay_ms) {
    Reply r;
    size_t from = 0;
    for (size_t cut : cuts) {
        if (cut <= from || cut >= bytes.size()) continue;
        r.sends.push_back(Send{bytes.substr(from, cut - from), from ? delay_ms : 0});
        from = cut;
    }
    r.sends.push_back(Send{bytes.substr(from), from ? delay_ms : 0});
    return r;
}

HttpTestServer::HttpTestServer(std::vector<Reply> replies, ServerOptions options)
    : replies_(std::move(replies)), options_(options) {
    const auto give_up = clock::now() + std::chrono::milliseconds(options_.bind_wait_ms);
    for (;;) {
        listener_ = listen_on(options_.ipv6, options_.port, &port_);
        if (listener_ != invalid || clock::now() >= give_up) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (listener_ != invalid) thread_ = std::thread([this] { run(); });
}

HttpTestServer::~HttpTestServer() {
    stop();
}

void HttpTestServer::stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ != invalid) close_socket(listener_);
    listener_ = invalid;
}

std::string HttpTestServer::base_url() const {
    return std::string(options_.ipv6 ? "http://[::1]:" : "http://127.0.0.1:") +
           std::to_string(port_);
}

bool HttpTestServer::wait_done(int timeout_ms) {
    const auto give_up = clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done_) {
        if (clock::now() >= give_up) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::vector<std::string> HttpTestServer::received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

std::vector<std::string> HttpTestServer::requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

// Sleeps in small steps so that stop() is never held up long; false when stopping.
bool HttpTestServer::pause(int ms) {
    const auto until = clock::now() + std::chrono::milliseconds(ms);
    while (clock::now() < until) {
        if (stopping_) return false;
        auto left = until - clock::now();
        std::this_thread::sleep_for(std::min<clock::duration>(left, std::chrono::milliseconds(20)));
    }
    return !stopping_;
}

void HttpTestServer::add_reply(Reply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_.push_back(std::move(reply));
}

bool HttpTestServer::wait_played(size_t count, int timeout_ms) {
    const auto give_up = clock::now() + std::chrono::milliseconds(timeout_ms);
    while (played_ < count) {
        if (clock::now() >= give_up) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void HttpTestServer::run() {
    size_t next = 0;
    while (!stopping_) {
        Reply r;
        bool have;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            have = next < replies_.size() || (options_.repeat && !replies_.empty());
            if (have) r = replies_[next < replies_.size() ? next : replies_.size() - 1];
        }
        if (!have) {
            if (!options_.persistent) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        // The accept waits in short steps: a test that never connects still
        // ends with the server's destruction.
        if (!readable(listener_, 50)) continue;
        SOCKET client = accept(SOCKET(listener_), nullptr, nullptr);
#ifdef _WIN32
        if (client == INVALID_SOCKET) continue;
#else
        if (client < 0) continue;
#endif
        int on = 1;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
        next++;
        serve(uintptr_t(client), r);
        played_++;
    }
    done_ = true;
}

void HttpTestServer::serve(uintptr_t client, const Reply& r) {
    if (options_.deaf) { // until stopped; the client's bytes fill its socket
        while (pause(20)) {
        }
        close_socket(client);
        return;
    }
    // The request head, up to its empty line (bounded in size and time).
    std::string request;
    const auto give_up = clock::now() + std::chrono::seconds(10);
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536 &&
           clock::now() < give_up && !stopping_) {
        if (!readable(client, 20)) continue;
        long n = receive_bytes(client, buffer, sizeof buffer);
        if (n <= 0) break;
        request.append(buffer, size_t(n));
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
    }
    bool sending = true;
    for (const Send& s : r.sends) {
        if (!sending || !pause(s.delay_ms)) break;
        if (s.segment <= 0) {
            for (long i = 0; i < s.repeat && sending && !stopping_; i++)
                sending = send_bytes(client, s.bytes.data(), s.bytes.size());
            continue;
        }
        size_t at = 0;
        int in_burst = 0;
        while (sending && at < s.bytes.size()) {
            size_t n = std::min(s.bytes.size() - at, size_t(s.segment));
            sending = send_bytes(client, s.bytes.data() + at, n);
            at += n;
            if (++in_burst == s.burst && at < s.bytes.size()) {
                in_burst = 0;
                sending = sending && pause(s.gap_ms);
            }
        }
    }
    std::string all = request;
    const auto keep_received = [&] {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.push_back(all);
    };
    if (r.ending == Ending::reset) {
        keep_received();
        linger l{1, 0};
        setsockopt(SOCKET(client), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l),
                   sizeof l);
        close_socket(client);
        return;
    }
    if (r.ending == Ending::close) shutdown(SOCKET(client), SD_SEND);
    // Until the client closes (bounded), so that nothing it has not read yet
    // is thrown away by an early close.
    const auto hold_until =
        clock::now() + std::chrono::seconds(r.ending == Ending::stall ? 60 : 15);
    while (clock::now() < hold_until && !stopping_) {
        if (!readable(client, 20)) continue;
        const long n = receive_bytes(client, buffer, sizeof buffer);
        if (n <= 0) break;
        all.append(buffer, size_t(n));
    }
    keep_received();
    close_socket(client);
}

uint16_t unused_port() {
    uint16_t port = 0;
    uintptr_t s = listen_on(false, 0, &port);
    if (s != ~uintptr_t(0)) close_socket(s);
    return port;
}

} // namespace kt
