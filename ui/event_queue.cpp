#include "ui/event_queue.h"

#include <atomic>

#include "core/registry.h"

EventQueue* event_queue;

namespace {

// The queue owns a posted data word: one that is not queued (dropped, or
// merged into an equal event that keeps its own) is released at once.
bool not_queued(intptr_t data, EventDataRelease release) {
    if (data && release) release(data);
    return false;
}

bool matches(ObjectId wanted, ObjectId value) {
    return wanted == -1 || wanted == value;
}

// Unlinks every node the predicate selects, keeping the others in order.
template <typename Selects> void remove_nodes(Selects selects) {
    EventQueue* q = event_queue;
    if (!q) return;
    QueuedEvent* kept_last = nullptr;
    for (QueuedEvent* e = q->head; e;) {
        QueuedEvent* next = e->next;
        if (selects(*e)) {
            if (kept_last)
                kept_last->next = next;
            else
                q->head = next;
            not_queued(e->data, e->release);
            pool_free(q->node_pool, e);
        } else {
            kept_last = e;
        }
        e = next;
    }
    q->tail = kept_last;
}

// Blocks made for other threads' events and not yet received, linked by
// their next field; other threads add to it, hence the lock. It is held for
// a few pointer moves only, so a spin lock does, and it brings no thread
// library into the program.
std::atomic_flag posted_lock = ATOMIC_FLAG_INIT;
QueuedEvent* posted_blocks;

struct PostedLock {
    PostedLock() {
        while (posted_lock.test_and_set(std::memory_order_acquire)) {
        }
    }
    ~PostedLock() { posted_lock.clear(std::memory_order_release); }
    PostedLock(const PostedLock&) = delete;
    PostedLock& operator=(const PostedLock&) = delete;
};

// Unlinks the block named by value if it is recorded; compares addresses
// only, so a foreign value is never read. The lock must be held.
QueuedEvent* unlink_posted(intptr_t value) {
    for (QueuedEvent** link = &posted_blocks; *link; link = &(*link)->next) {
        if (intptr_t(*link) != value) continue;
        QueuedEvent* block = *link;
        *link = block->next;
        return block;
    }
    return nullptr;
}

} // namespace

bool event_queue_create() {
    auto* q = static_cast<EventQueue*>(state_block_create(sizeof(EventQueue), nullptr));
    if (!q) return false;
    q->node_pool = pool_create(sizeof(QueuedEvent), 16, 256);
    if (!q->node_pool) return false;
    // One block stays taken for the life of the process, so the first chunk
    // is never handed back to the heap when the queue runs empty.
    if (!pool_alloc(q->node_pool)) return false;
    q->current_type = -1;
    event_queue = q;
    return true;
}

bool post_event(int32_t code, ObjectId object, ObjectId window, int32_t type, intptr_t data,
                EventDataRelease release, int32_t flags) {
    EventQueue* q = event_queue;
    if (!q) return not_queued(data, release);
    if (q->suspension_count != 0 && !(flags & POST_EVEN_IF_SUSPENDED))
        return not_queued(data, release);
    QueuedEvent* t = q->tail;
    if (t && t->code == code && t->object == object && t->window == window && t->type == type &&
        uint32_t(code) < uint32_t(MERGE_CODE_LIMIT)) {
        not_queued(data, release);
        return true;
    }
    auto* e = static_cast<QueuedEvent*>(pool_alloc(q->node_pool));
    if (!e) return not_queued(data, release); // out of memory: the event is lost
    *e = QueuedEvent{nullptr, code, flags, object, window, type, data, release};
    if (t)
        t->next = e;
    else
        q->head = e;
    q->tail = e;
    return true;
}

int32_t fetch_event() {
    EventQueue* q = event_queue;
    if (!q) return 0;
    q->current_code = 0;
    if (q->current_data && q->current_release) {
        EventDataRelease release = q->current_release;
        intptr_t data = q->current_data;
        q->current_data = 0;
        q->current_release = nullptr;
        release(data);
    }
    q->current_type = -1;
    if (QueuedEvent* e = q->head) {
        q->current_code = e->code;
        q->current_window = e->window;
        q->current_object = e->object;
        q->current_type = e->type;
        q->current_data = e->data;
        q->current_release = e->release;
        q->head = e->next;
        if (!q->head) q->tail = nullptr;
        pool_free(q->node_pool, e);
    }
    return q->current_code;
}

ObjectId window_of_event() {
    return event_queue ? event_queue->current_window : -1; // 0 is a real window
}

void suspend_events() {
    if (event_queue) event_queue->suspension_count++;
}

void resume_events() {
    if (event_queue) event_queue->suspension_count--;
}

void discard_events(int32_t code, ObjectId object, ObjectId window, int32_t type) {
    remove_nodes([&](const QueuedEvent& e) {
        return matches(code, e.code) && matches(object, e.object) && matches(window, e.window) &&
               matches(type, e.type);
    });
}

void discard_window_events(ObjectId window) {
    remove_nodes([&](const QueuedEvent& e) { return e.window == window; });
}

QueuedEvent* make_posted_event(int32_t code, ObjectId object, ObjectId window, int32_t type,
                               intptr_t data) {
    auto* block = static_cast<QueuedEvent*>(heap_alloc_zeroed(sizeof(QueuedEvent)));
    if (!block) return nullptr;
    const PostedLock hold;
    *block = QueuedEvent{posted_blocks, code, 0, object, window, type, data, nullptr};
    posted_blocks = block;
    return block;
}

void drop_posted_event(QueuedEvent* block) {
    QueuedEvent* recorded;
    {
        const PostedLock hold;
        recorded = unlink_posted(intptr_t(block));
    }
    heap_free(recorded);
}

void drop_posted_events() {
    QueuedEvent* blocks;
    {
        const PostedLock hold;
        blocks = posted_blocks;
        posted_blocks = nullptr;
    }
    while (QueuedEvent* block = blocks) {
        blocks = block->next;
        heap_free(block);
    }
}

bool take_posted_event(intptr_t value) {
    QueuedEvent* block;
    {
        const PostedLock hold;
        block = unlink_posted(value);
    }
    if (!block) return false;
    post_event(block->code, block->object, block->window, block->type, block->data, nullptr,
               POST_EVEN_IF_SUSPENDED);
    heap_free(block);
    return true;
}
