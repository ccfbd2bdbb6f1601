// Threads and named mutexes over the C++ library for the host build: the
// calls of the start's worker, the station lock and the log's turn. Named
// mutexes are the process's own (the host tests run in one process); a
// mutex is recursive for its owner, as on Windows.
#include "platform/win32_posix.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

constexpr uint32_t sync_magic = 0x53594E43; // "SYNC"

struct Waitable {
    std::mutex lock;
    std::condition_variable changed;
    bool is_thread = false;
    bool ended = false;    // a thread: it returned
    std::thread::id owner; // a mutex: its owner, none when free
    int depth = 0;         // a mutex: how often its owner took it
};

struct SyncHandle {
    uint32_t magic;
    std::shared_ptr<Waitable> object;
};

std::mutex names_lock;
std::map<std::string, std::weak_ptr<Waitable>> names;

SyncHandle* sync_of(HANDLE h) {
    auto* s = static_cast<SyncHandle*>(h);
    if (!s || h == INVALID_HANDLE_VALUE || s->magic != sync_magic) return nullptr;
    return s;
}

HANDLE handle_to(std::shared_ptr<Waitable> object) {
    return new SyncHandle{sync_magic, std::move(object)};
}

} // namespace

HANDLE CreateThread(SECURITY_ATTRIBUTES*, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID argument,
                    DWORD, LPDWORD id) {
    if (!start) return nullptr;
    auto object = std::make_shared<Waitable>();
    object->is_thread = true;
    std::thread([object, start, argument] {
        start(argument);
        std::lock_guard<std::mutex> hold(object->lock);
        object->ended = true;
        object->changed.notify_all();
    }).detach();
    if (id) *id = 0;
    return handle_to(object);
}

HANDLE CreateMutexA(SECURITY_ATTRIBUTES*, BOOL initial_owner, LPCSTR name) {
    std::shared_ptr<Waitable> object;
    bool existed = false;
    if (name) {
        std::lock_guard<std::mutex> hold(names_lock);
        object = names[name].lock();
        existed = object != nullptr;
        if (!existed) names[name] = object = std::make_shared<Waitable>();
    } else {
        object = std::make_shared<Waitable>();
    }
    HANDLE h = handle_to(object);
    if (initial_owner && !existed) WaitForSingleObject(h, 0);
    errno = existed ? EEXIST : 0;
    return h;
}

HANDLE OpenMutexA(DWORD, BOOL, LPCSTR name) {
    std::lock_guard<std::mutex> hold(names_lock);
    auto found = name ? names.find(name) : names.end();
    std::shared_ptr<Waitable> object = found == names.end() ? nullptr : found->second.lock();
    if (!object) {
        errno = ENOENT;
        return nullptr;
    }
    return handle_to(object);
}

BOOL ReleaseMutex(HANDLE h) {
    SyncHandle* s = sync_of(h);
    if (!s || s->object->is_thread) return FALSE;
    Waitable& m = *s->object;
    std::lock_guard<std::mutex> hold(m.lock);
    if (m.depth == 0 || m.owner != std::this_thread::get_id()) {
        errno = EPERM;
        return FALSE;
    }
    if (--m.depth == 0) {
        m.owner = std::thread::id();
        m.changed.notify_all();
    }
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds) {
    SyncHandle* s = sync_of(h);
    if (!s) return WAIT_FAILED;
    Waitable& w = *s->object;
    const auto me = std::this_thread::get_id();
    std::unique_lock<std::mutex> hold(w.lock);
    const auto ready = [&] { return w.is_thread ? w.ended : w.depth == 0 || w.owner == me; };
    if (milliseconds == INFINITE)
        w.changed.wait(hold, ready);
    else if (!w.changed.wait_for(hold, std::chrono::milliseconds(milliseconds), ready))
        return WAIT_TIMEOUT;
    if (!w.is_thread) {
        w.owner = me;
        w.depth++;
    }
    return WAIT_OBJECT_0;
}

bool posix_close_sync_handle(HANDLE h) {
    SyncHandle* s = sync_of(h);
    if (!s) return false;
    s->magic = 0;
    delete s;
    return true;
}
