// A real HTTP server on the loopback interface for tests, fuzzing and
// benchmarks: it plays scripted replies, one per accepted connection, with
// exact bytes and timing (split points, delays, pacing, early close, stall,
// reset). It runs on its own thread from construction to destruction.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kt {

// Waits delay_ms, then sends bytes; with segment > 0 in pieces of that size,
// burst pieces at a time with gap_ms between bursts.
struct Send {
    std::string bytes;
    int delay_ms = 0;
    int segment = 0;
    int burst = 1;
    int gap_ms = 0;
    long repeat = 1; // without segments: the bytes are sent this many times
};

enum class Ending {
    close, // half-close, then wait for the client to close
    stall, // send nothing more and keep the connection open until the client closes
    reset, // abortive close
};

struct Reply {
    std::vector<Send> sends;
    Ending ending = Ending::close;
};

// Replies whose bytes are all sent at once.
Reply reply(std::string bytes, Ending ending = Ending::close);
// Replies split at the given byte offsets, with delay_ms before each piece
// after the first, so that the pieces reach the client in separate reads.
Reply split_reply(const std::string& bytes, const std::vector<size_t>& cuts, int delay_ms = 20);

struct ServerOptions {
    uint16_t port = 0;       // 0: an ephemeral port
    bool ipv6 = false;       // listen on ::1 instead of 127.0.0.1
    bool repeat = false;     // play the last reply again for every further connection
    bool persistent = false; // keep listening for replies added later (add_reply)
    int bind_wait_ms = 0;    // how long to retry a busy fixed port
    bool deaf = false;       // read nothing: hold each connection until stopped
};

class HttpTestServer {
  public:
    explicit HttpTestServer(std::vector<Reply> replies, ServerOptions options = {});
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    bool listening() const { return listener_ != invalid; }
    uint16_t port() const { return port_; }
    // "http://127.0.0.1:<port>" (or "http://[::1]:<port>")
    std::string base_url() const;
    // Waits up to timeout_ms until every scripted reply has been played and
    // its connection closed; false on time-out.
    bool wait_done(int timeout_ms = 30000);
    // The request heads received so far (each up to and including its empty line).
    std::vector<std::string> requests();
    // Every byte each played connection received, head and all after it.
    std::vector<std::string> received();
    // Queues one more reply (persistent servers) and waits, up to timeout_ms,
    // until it has been played and its connection closed.
    void add_reply(Reply reply);
    bool wait_played(size_t count, int timeout_ms = 30000);
    void stop();

  private:
    static constexpr uintptr_t invalid = ~uintptr_t(0);
    void run();
    void serve(uintptr_t client, const Reply& reply);
    bool pause(int ms);

    std::vector<Reply> replies_;
    ServerOptions options_;
    uintptr_t listener_ = invalid;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> done_{false};
    std::atomic<size_t> played_{0};
    std::mutex mutex_;
    std::vector<std::string> requests_;
    std::vector<std::string> received_;
    std::thread thread_;
};

// A port on which nothing listens (taken from the system and given back).
uint16_t unused_port();

} // namespace kt
